// Cleaning one file in place: a reduced copy replaces the source only when it is complete
// and its size differs; the source keeps its creation and last-write times. The source is held
// to this process from the first look at it to the last write over it: one open serves the
// filter's reading, the write and the times.
#include "replace/replace.h"

std::wstring source_path;
bool temp_busy;
HANDLE source_file = INVALID_HANDLE_VALUE;

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

static HANDLE open_source(DWORD access) {
    return CreateFileW(source_path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A file another program holds open is skipped: the handle asks for exclusive access. The
// whole 64-bit size counts.
static bool take_source() {
    source_file = open_source(GENERIC_READ | GENERIC_WRITE);
    source_writable = source_file != INVALID_HANDLE_VALUE;
    if (!source_writable && GetLastError() == ERROR_ACCESS_DENIED) source_file = open_source(GENERIC_READ);
    return source_file != INVALID_HANDLE_VALUE &&
           size_and_times(source_file, &record.old_size, &record.creation_time, &record.last_write_time);
}

// The filter reads the held source through a handle of its own.
static bool open_source_stream() {
    HANDLE own = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), source_file, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    source_stream = stream_of(own, "rb");
    return source_stream != nullptr;
}

// When another program saved the source meanwhile, by a way around the exclusive handle, its
// newer save wins and the source is neither replaced nor given its old times.
bool source_unchanged(HANDLE file) {
    uint64_t size = 0, creation = 0, last_write = 0;
    return size_and_times(file, &size, &creation, &last_write) && size == record.old_size &&
           last_write == record.last_write_time;
}

bool source_replaceable() { return source_writable && source_unchanged(source_file); }

// The steps of one file while this process holds the temporary file and the source. A source
// whose replacement waits is no input: its bytes may be half old, half new.
static void clean_taken_source() {
    if (record.old_size > uint64_t(max_source_size) || is_waiting_source() || !open_source_stream()) return;
    source_size = int32_t(record.old_size);
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    fclose(source_stream);
    source_stream = nullptr;
    if (result == not_recognised) return;
    bool differs = result == complete_copy && copy_size != int64_t(record.old_size);
    // A queued source gets its times back with the write, a waiting one when it is finished.
    if (!(differs && queue_replacement() == queued) && source_replaceable()) put_recorded_times(source_file);
}

// The same file named twice in a batch is held by the group already: it goes first.
static bool take_source_once_more() {
    if (GetLastError() != ERROR_SHARING_VIOLATION || !holds_sources()) return false;
    settle_group();
    return take_source();
}

// Where no folder takes a temporary file, a source is still recognised and counted, and left as it is.
void clean_file() {
    if (is_scratch_name(source_path)) return;
    if (!take_temp() && temp_busy) return;
    if (take_source() || take_source_once_more()) clean_taken_source();
    if (source_file != INVALID_HANDLE_VALUE) CloseHandle(source_file);
    source_file = INVALID_HANDLE_VALUE;
}
