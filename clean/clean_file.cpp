// Cleaning one file in place: a reduced copy replaces the source only when it is complete
// and its size differs; the source keeps its creation and last-write times.
#include "clean/clean.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

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
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!ok) return false;
    creation_time = info.ftCreationTime;
    last_write_time = info.ftLastWriteTime;
    *size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
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

// The source's size now, without opening it: another program may hold it.
static bool source_size_now(uint64_t* size, FILETIME* written) {
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesExA(source_path, GetFileExInfoStandard, &now)) return false;
    *size = uint64_t(now.nFileSizeHigh) << 32 | now.nFileSizeLow;
    *written = now.ftLastWriteTime;
    return true;
}

// A copy refused before it wrote anything (read-only, hidden or locked source) leaves the
// source's size and last-write time as they were; one that wrote changes the time at least.
static bool source_as_before(uint64_t size) {
    uint64_t now_size = 0;
    FILETIME written;
    return source_size_now(&now_size, &written) && now_size == size &&
           CompareFileTime(&written, &last_write_time) == 0;
}

static bool source_holds_copy(uint64_t copy_size) {
    uint64_t now_size = 0;
    FILETIME written;
    return source_size_now(&now_size, &written) && now_size == copy_size;
}

// The source was left cut short: the reduced copy moves aside, beside the program, as
// "<source name> (n)<extension>"; MoveFileA never replaces a file. A name too long for a path
// leaves it at temp_path.
static void keep_copy() {
    const char* name = source_path;
    for (const char* p = source_path; *p; p++)
        if (*p == '\\' || *p == '/') name = p + 1;
    const char* extension = strrchr(name, '.');
    if (!extension) extension = name + strlen(name);
    const char* temp_name = strrchr(temp_path, '\\');
    int folder_length = temp_name ? int(temp_name + 1 - temp_path) : 0;
    char kept[path_size];
    for (int n = 1; n < 1000; n++) {
        int length = snprintf(kept, sizeof kept, "%.*s%.*s (%d)%s", folder_length, temp_path,
                              int(extension - name), name, n, extension);
        if (length < 0 || length >= path_size || MoveFileA(temp_path, kept)) return;
    }
}

// Copying over a read-only, hidden or system file fails on Windows; asking first keeps that
// true wherever the file system would let the copy through (Wine run as root does). Asked by
// name: that is how Wine tells a hidden dot-file.
static bool copy_refused() {
    DWORD attributes = GetFileAttributesA(source_path);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

// CopyFileA keeps the source's identity and security settings. One that fails part-way has
// already cut the source short, so it is tried once more; if the source is still not whole,
// the reduced copy is the only whole image and is kept. False when it was kept: temp_path must
// then not be deleted.
static bool replace_source(uint64_t size, uint64_t copy_size) {
    if (copy_refused()) return true;
    bool replaced = CopyFileA(temp_path, source_path, FALSE);
    if (!replaced && source_as_before(size)) return true;  // refused before it wrote anything
    if (!replaced) replaced = CopyFileA(temp_path, source_path, FALSE) && source_holds_copy(copy_size);
    if (!replaced) {
        keep_copy();
        return false;
    }
    changed_count++;
    return true;
}

void clean_file() {
    uint64_t size = 0;
    if (!take_size_and_times(&size) || size > uint64_t(max_source_size)) return;
    source_size = int32_t(size);
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    if (result == not_recognised) return;
    uint64_t copy_size = 0;
    if (result == complete_copy && measure_copy(&copy_size) && copy_size != size && !replace_source(size, copy_size))
        return;
    DeleteFileA(temp_path);
    put_times_back();
}
