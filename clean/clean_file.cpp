// Cleaning one file in place: a reduced copy replaces the source only when it is complete
// and its size differs; the source keeps its creation and last-write times.
#include "clean/clean.h"

#include <windows.h>

bool temp_busy;

static uint64_t ticks(FILETIME time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// Size and times of an open file. Not GetFileInformationByHandle: under Wine that asks the
// mount manager for the volume's serial number, a round trip to another process per call.
static bool size_and_times(HANDLE file, uint64_t* size, uint64_t* creation, uint64_t* last_write) {
    LARGE_INTEGER length;
    FILETIME created, written;
    if (!GetFileSizeEx(file, &length) || !GetFileTime(file, &created, nullptr, &written)) return false;
    *size = uint64_t(length.QuadPart);
    *creation = ticks(created);
    *last_write = ticks(written);
    return true;
}

static HANDLE open_source(DWORD access) {
    return CreateFileA(source_path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A file another program holds open is skipped: the handle asks for exclusive access. The
// whole 64-bit size counts.
static bool take_size_and_times() {
    HANDLE file = open_source(GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = size_and_times(file, &record.old_size, &record.creation_time, &record.last_write_time);
    CloseHandle(file);
    return ok;
}

// When another program saved the source meanwhile, its newer save wins and the source is
// neither replaced nor given its old times.
void* open_unchanged_source() {
    HANDLE file = open_source(GENERIC_READ | GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return file;
    uint64_t size = 0, creation = 0, last_write = 0;
    if (size_and_times(file, &size, &creation, &last_write) && size == record.old_size &&
        last_write == record.last_write_time)
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

static void put_times_back() {
    HANDLE file = open_unchanged_source();
    if (file == INVALID_HANDLE_VALUE) return;
    put_recorded_times(file);
    CloseHandle(file);
}

// The steps of one file while this process holds the temporary file. A source whose
// replacement waits is no input: its bytes may be half old, half new.
static void clean_held_file() {
    if (!take_size_and_times() || record.old_size > uint64_t(max_source_size) || is_waiting_source()) return;
    source_size = int32_t(record.old_size);
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    if (result == not_recognised) return;
    bool differs = result == complete_copy && copy_size != int64_t(record.old_size);
    Replacement outcome = differs ? replace_source() : refused;
    if (outcome == replaced) changed_count++;
    if (outcome != refused) return;  // a replaced source got its times back with the write
    if (temp_stream && !delete_temp_stream()) delete_temp();
    put_times_back();
}

void clean_file() {
    temp_busy = false;
    if (!take_temp()) return;
    clean_held_file();
    release_temp();
}
