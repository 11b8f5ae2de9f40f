// Cleaning one file in place: a reduced copy replaces the source only when it is complete
// and its size differs; the source keeps its creation and last-write times.
#include "clean/clean.h"
#include "batch/batch.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>

static FILETIME creation_time;    // the source's, put back after cleaning
static FILETIME last_write_time;  // likewise; with the size, tells whether another program saved it since
static uint64_t first_size;       // the source's size when it was first opened
static HANDLE temp_lock;          // the machine-wide mutex of temp_path: one cleaning at a time
static char locked_path[path_size];  // the temp_path that temp_lock guards
static bool copy_kept_at_temp;    // the only whole image stands at temp_path: nothing more is cleaned

static HANDLE open_existing(const char* path, DWORD access) {
    return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Size and times of an open file. Not GetFileInformationByHandle: under Wine that asks the
// mount manager for the volume's serial number, a round trip to another process per call.
static bool size_and_times(HANDLE file, uint64_t* size, FILETIME* creation, FILETIME* last_write) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length) || !GetFileTime(file, creation, nullptr, last_write)) return false;
    *size = uint64_t(length.QuadPart);
    return true;
}

// FNV-1a over temp_path with its folder in long form, upper-cased: one value for every spelling.
static bool temp_path_hash(uint64_t* hash) {
    wchar_t path[path_size], spelt[1024 + path_size];
    if (!MultiByteToWideChar(CP_ACP, 0, temp_path, -1, path, path_size)) return false;
    wchar_t* file_name = wcsrchr(path, L'\\');
    if (!file_name) return false;
    *file_name++ = L'\0';
    DWORD length = GetLongPathNameW(path, spelt, 1024);
    if (length == 0 || length >= 1024) wcscpy(spelt, path);
    wcscat(spelt, L"\\");
    wcscat(spelt, file_name);
    CharUpperW(spelt);
    *hash = 14695981039346656037ull;
    for (const wchar_t* c = spelt; *c; c++) *hash = (*hash ^ *c) * 1099511628211ull;
    return true;
}

static void format_lock_name(wchar_t* name, size_t name_size, const wchar_t* space, uint64_t hash) {
    swprintf(name, name_size, L"%ls\\brinq_%016llx", space, static_cast<unsigned long long>(hash));
}

bool temp_lock_name(wchar_t* name, size_t name_size) {
    uint64_t hash = 0;
    if (!temp_path_hash(&hash)) return false;
    format_lock_name(name, name_size, L"Global", hash);
    return true;
}

// Any user's brinq.exe may wait on the mutex: an empty access list.
static HANDLE create_lock(const wchar_t* name) {
    SECURITY_DESCRIPTOR open_to_all;
    InitializeSecurityDescriptor(&open_to_all, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open_to_all, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &open_to_all, FALSE};
    HANDLE lock = CreateMutexW(&attributes, FALSE, name);
    if (!lock) lock = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
    return lock;
}

// The mutex for the current temp_path, made once per path.
static bool find_lock() {
    if (temp_lock && strcmp(locked_path, temp_path) == 0) return true;
    if (temp_lock) CloseHandle(temp_lock);
    temp_lock = nullptr;
    uint64_t hash = 0;
    if (!temp_path_hash(&hash)) return false;
    // Where the global namespace is closed to this process, its own session's still serves.
    for (const wchar_t* space : {L"Global", L"Local"}) {
        wchar_t name[64];
        format_lock_name(name, 64, space, hash);
        temp_lock = create_lock(name);
        if (temp_lock) break;
    }
    strcpy(locked_path, temp_path);
    return temp_lock != nullptr;
}

static bool owned(DWORD woke) { return woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0; }

// Waits while another process cleans through the same temporary file. Messages go on to the
// usual pump meanwhile, so that the window paints and Escape or quit stop the batch; false
// when stopped. An abandoned mutex is taken over: its holder died, and the stale file it left
// is never taken for a copy, since only a copy written in this call is measured.
static bool take_lock() {
    if (!find_lock()) return false;
    if (owned(WaitForSingleObject(temp_lock, 0))) return true;
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjectsEx(1, &temp_lock, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (owned(woke)) return true;
        if (woke == WAIT_FAILED) return false;
        if (woke == WAIT_OBJECT_0 + 1) pump();
        if (stop_requested()) return false;
    }
}

// The source's size and times, taken with exclusive access: a file another program holds
// open is skipped. The whole 64-bit size counts.
static bool take_size_and_times() {
    HANDLE file = open_existing(source_path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = size_and_times(file, &first_size, &creation_time, &last_write_time);
    CloseHandle(file);
    return ok;
}

// The source opened for writing, if it is still what was read: when another program saved it
// meanwhile, its newer save wins and the source is neither replaced nor given its old times.
static HANDLE open_unchanged_source() {
    HANDLE file = open_existing(source_path, GENERIC_READ | GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return file;
    uint64_t size = 0;
    FILETIME creation, last_write;
    if (size_and_times(file, &size, &creation, &last_write) && size == first_size &&
        CompareFileTime(&last_write, &last_write_time) == 0)
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

static void put_times_back() {
    HANDLE file = open_unchanged_source();
    if (file == INVALID_HANDLE_VALUE) return;
    SetFileTime(file, &creation_time, nullptr, &last_write_time);
    CloseHandle(file);
}

// The whole reduced copy, read back into the WorkBuffer in one read. False when the file at
// temp_path is not exactly as long as what the filter wrote.
static bool read_copy() {
    FILE* copy = fopen(temp_path, "rb");
    if (!copy) return false;
    ensure_work_buffer(int32_t(copy_size));
    bool ok = work_buffer.data && fread(work_buffer.data, size_t(copy_size), 1, copy) == 1 && fgetc(copy) == EOF;
    fclose(copy);
    return ok;
}

// A longer copy first writes what lies past the source's old end, so that a full disk refuses
// it before a byte of the source has changed; a refused start is cut off again.
static bool make_room(HANDLE file) {
    if (copy_size <= int64_t(first_size)) return true;
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(first_size);
    DWORD tail = DWORD(copy_size - int64_t(first_size)), written = 0;
    if (SetFilePointerEx(file, end, nullptr, FILE_BEGIN) &&
        WriteFile(file, work_buffer.data + first_size, tail, &written, nullptr) && written == tail) {
        end.QuadPart = 0;
        return SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    }
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    SetFileTime(file, &creation_time, nullptr, &last_write_time);
    return false;
}

// The copy written into the source in place: the same file keeps its identity, security
// settings and attributes, and nothing truncates it to zero first.
static bool write_copy(HANDLE file) {
    DWORD written = 0;
    bool ok = WriteFile(file, work_buffer.data, DWORD(copy_size), &written, nullptr) &&
              written == uint64_t(copy_size) && SetEndOfFile(file) &&
              SetFileTime(file, &creation_time, nullptr, &last_write_time);
    return CloseHandle(file) && ok;
}

// Copying over a read-only, hidden or system file fails on Windows; asking first keeps that
// true wherever the file system would let the copy through (Wine run as root does). Asked by
// name: that is how Wine tells a hidden dot-file.
static bool copy_refused() {
    DWORD attributes = GetFileAttributesA(source_path);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

// The name part of a path: after its last backslash or slash.
static const char* name_in(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}

// The extension of the format the head bytes named.
static const char* format_extension() {
    if (head_bytes[0] == 0x89) return ".png";
    if (head_bytes[0] == 0x38) return ".psd";
    return ".jpg";
}

// The source was left damaged: the reduced copy moves aside, beside the program, as
// "<source name> (n)<extension>", or as "kept (n)<format's extension>" when that does not fit
// a path; the latter always fits where the temporary name does. MoveFileA never replaces a
// file. False when every name was taken.
static bool keep_copy() {
    const char* name = name_in(source_path);
    const char* extension = strrchr(name, '.');
    if (!extension) extension = name + strlen(name);
    int folder_length = int(name_in(temp_path) - temp_path);
    char kept[path_size];
    for (int n = 1; n < 10000; n++) {
        int length = snprintf(kept, sizeof kept, "%.*s%.*s (%d)%s", folder_length, temp_path,
                              int(extension - name), name, n, extension);
        if (length < 0 || length >= path_size)
            snprintf(kept, sizeof kept, "%.*skept (%d)%s", folder_length, temp_path, n, format_extension());
        if (MoveFileA(temp_path, kept)) return true;
    }
    return false;
}

enum Replacement { refused, replaced, kept };

// A write over the source that fails part-way leaves it damaged, so it is tried once more; if
// that fails too, the reduced copy is the only whole image and is kept.
static Replacement replace_source() {
    if (copy_refused() || !read_copy()) return refused;
    HANDLE file = open_unchanged_source();
    if (file == INVALID_HANDLE_VALUE) return refused;
    if (!make_room(file)) {
        CloseHandle(file);
        return refused;
    }
    if (write_copy(file)) return replaced;
    file = open_existing(source_path, GENERIC_WRITE);
    if (file != INVALID_HANDLE_VALUE && write_copy(file)) return replaced;
    if (keep_copy()) return kept;
    // Nowhere to keep it: it stays at temp_path, and this process cleans nothing more.
    copy_kept_at_temp = true;
    abort_requested = 1;
    return kept;
}

// The steps of one file while this process holds the temporary file.
static void clean_held_file() {
    if (!take_size_and_times() || first_size > uint64_t(max_source_size)) return;
    source_size = int32_t(first_size);
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    if (result == not_recognised) return;
    bool differs = result == complete_copy && copy_size != int64_t(first_size);
    Replacement outcome = differs ? replace_source() : refused;
    if (outcome == kept) return;  // temp_path holds the only whole image, or it moved aside
    DeleteFileA(temp_path);
    if (outcome == replaced) changed_count++;
    else put_times_back();  // a replaced source got them back with the write
}

void clean_file() {
    if (copy_kept_at_temp || !take_lock()) return;
    clean_held_file();
    ReleaseMutex(temp_lock);
}
