// Cleaning one file in place: a reduced copy replaces the source only when it is complete
// and its size differs; the source keeps its creation and last-write times.
#include "clean/clean.h"

#include <windows.h>

static FILETIME creation_time;    // the source's, put back after cleaning
static FILETIME last_write_time;  // likewise

static HANDLE open_existing(const char* path, DWORD access) {
    return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The source's size and times, taken with exclusive access: a file another program holds
// open is skipped. The whole 64-bit size counts.
static bool take_size_and_times(uint64_t* size) {
    HANDLE file = open_existing(source_path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER length;
    bool ok = GetFileSizeEx(file, &length) && GetFileTime(file, &creation_time, nullptr, &last_write_time);
    CloseHandle(file);
    *size = uint64_t(length.QuadPart);
    return ok;
}

static bool measure_copy(uint64_t* size) {
    HANDLE file = open_existing(temp_path, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER length;
    bool ok = GetFileSizeEx(file, &length);
    CloseHandle(file);
    *size = uint64_t(length.QuadPart);
    return ok;
}

static void put_times_back() {
    HANDLE file = open_existing(source_path, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFileTime(file, &creation_time, nullptr, &last_write_time);
    CloseHandle(file);
}

void clean_file() {
    uint64_t size = 0;
    if (!take_size_and_times(&size) || size > uint64_t(max_source_size)) return;
    source_size = int32_t(size);
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    if (result == not_recognised) return;
    uint64_t copy_size = 0;
    if (result == complete_copy && measure_copy(&copy_size) && copy_size != size &&
        CopyFileA(temp_path, source_path, FALSE))
        changed_count++;
    DeleteFileA(temp_path);
    put_times_back();
}
