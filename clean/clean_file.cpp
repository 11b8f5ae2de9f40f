// Cleaning one file in place: a reduced copy replaces the source only when it is complete
// and its size differs; the source keeps its creation and last-write times.
#include "clean/clean.h"

#include <windows.h>

static FILETIME creation_time;    // the source's, put back after cleaning
static FILETIME last_write_time;  // likewise

static HANDLE open_existing(const char* path, DWORD access) {
    return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Copying over a read-only, hidden or system file fails on Windows; asking first keeps that
// true wherever the file system would let the copy through.
constexpr DWORD protected_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The source's size, times and attributes, taken with exclusive access: a file another
// program holds open is skipped. The whole 64-bit size counts.
static bool take_size_and_times(uint64_t* size, DWORD* attributes) {
    HANDLE file = open_existing(source_path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!ok) return false;
    creation_time = info.ftCreationTime;
    last_write_time = info.ftLastWriteTime;
    *size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    *attributes = info.dwFileAttributes;
    return true;
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
    DWORD attributes = 0;
    if (!take_size_and_times(&size, &attributes) || size > uint64_t(max_source_size)) return;
    source_size = int32_t(size);
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    if (result == not_recognised) return;
    uint64_t copy_size = 0;
    if (result == complete_copy && !(attributes & protected_attributes) && measure_copy(&copy_size) &&
        copy_size != size && CopyFileA(temp_path, source_path, FALSE))
        changed_count++;
    DeleteFileA(temp_path);
    put_times_back();
}
