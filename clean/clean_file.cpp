// Cleaning one file in place: a reduced copy replaces the source only when it is complete
// and its size differs; the source keeps its creation and last-write times. The source is held
// to this process from the first look at it to the last write over it: one open serves the
// filter's reading, the write and the times.
#include "clean/clean.h"

#include <windows.h>

bool temp_busy;
void* source_file = INVALID_HANDLE_VALUE;

static bool source_writable;  // source_file may write: a file that refuses writing is read, counted, never replaced

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

// A file another program holds open is skipped: the handle asks for exclusive access. The
// whole 64-bit size counts.
static bool take_source() {
    source_file = CreateFileA(source_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    source_writable = source_file != INVALID_HANDLE_VALUE;
    if (!source_writable && GetLastError() == ERROR_ACCESS_DENIED)
        source_file = CreateFileA(source_path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return source_file != INVALID_HANDLE_VALUE &&
           size_and_times(source_file, &record.old_size, &record.creation_time, &record.last_write_time);
}

// The filter reads the held source from its start through a handle of its own; a source that
// nobody holds, by its name.
bool open_source_stream() {
    start_summing();
    if (source_file == INVALID_HANDLE_VALUE) return (source_stream = open_stream(source_path, "rb")) != nullptr;
    HANDLE own = INVALID_HANDLE_VALUE;
    LARGE_INTEGER start{};
    if (!DuplicateHandle(GetCurrentProcess(), source_file, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    if (!SetFilePointerEx(own, start, nullptr, FILE_BEGIN)) {
        CloseHandle(own);
        return false;
    }
    source_stream = stream_of(own, "rb");
    return source_stream != nullptr;
}

// When another program saved the source meanwhile, by a way around the exclusive handle, its
// newer save wins and the source is neither replaced nor given its old times.
bool source_replaceable() {
    uint64_t size = 0, creation = 0, last_write = 0;
    return source_writable && size_and_times(source_file, &size, &creation, &last_write) &&
           size == record.old_size && last_write == record.last_write_time;
}

// The steps of one file while this process holds the temporary file and the source. A source
// whose replacement waits is no input: its bytes may be half old, half new.
static void clean_taken_source() {
    if (record.old_size > uint64_t(max_source_size) || is_waiting_source()) return;
    source_size = int32_t(record.old_size);
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    if (result == not_recognised) return;
    bool differs = result == complete_copy && copy_size != int64_t(record.old_size);
    Replacement outcome = differs ? replace_source() : refused;
    if (outcome == replaced) changed_count++;
    if (outcome != refused) return;  // a replaced source got its times back with the write
    close_temp_stream();
    if (source_replaceable()) put_recorded_times(source_file);
}

void clean_file() {
    temp_busy = false;
    if (!take_temp()) return;
    if (take_source()) clean_taken_source();
    if (source_file != INVALID_HANDLE_VALUE) CloseHandle(source_file);
    source_file = INVALID_HANDLE_VALUE;
    release_temp();
}
