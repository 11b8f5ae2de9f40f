// A replacement that cannot be finished now waits: its copy stands beside the temporary path
// as "<name> (n)<ext>", the whole image where the user can see it, with its record in a file of
// its own that every start tries again. Meanwhile neither the source nor that copy is input to
// a batch.
#include "clean/clean.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

static std::vector<std::wstring> waiting_paths;  // sources that wait, and their copies: no input to a batch

// The long form of a full path, or the path itself where it names nothing that exists.
static std::wstring long_form(const wchar_t* path) {
    wchar_t full[record_path_size], spelt[record_path_size];
    DWORD length = GetFullPathNameW(path, record_path_size, full, nullptr);
    if (length == 0 || length >= record_path_size) return path;
    length = GetLongPathNameW(full, spelt, record_path_size);
    return length == 0 || length >= record_path_size ? full : spelt;
}

static std::vector<std::wstring>::iterator find_waiting(const std::wstring& path) {
    auto waiting = waiting_paths.begin();
    while (waiting != waiting_paths.end() && CompareStringOrdinal(waiting->c_str(), -1, path.c_str(), -1, TRUE) != CSTR_EQUAL)
        waiting++;
    return waiting;
}

// The source and its copy, noted or forgotten.
void note_waiting(const wchar_t* kept, bool waits) {
    for (const std::wstring& path : {long_form(record.source), long_form(kept)}) {
        auto found = find_waiting(path);
        if (waits && found == waiting_paths.end()) waiting_paths.push_back(path);
        if (!waits && found != waiting_paths.end()) waiting_paths.erase(found);
    }
}

bool is_waiting_source() {
    wchar_t path[path_size];
    if (waiting_paths.empty() || !MultiByteToWideChar(CP_ACP, 0, source_path, -1, path, path_size)) return false;
    return find_waiting(long_form(path)) != waiting_paths.end();
}

bool wide_temp_path(wchar_t* temp) { return MultiByteToWideChar(CP_ACP, 0, temp_path, -1, temp, path_size) != 0; }

static const wchar_t* name_in(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; p++)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    return name;
}

bool beside(const wchar_t* beside, const wchar_t* name, wchar_t* path) {
    int length = swprintf(path, path_size, L"%.*ls%ls", int(name_in(beside) - beside), beside, name);
    return length > 0 && length < path_size;
}

// The extension of the copy's format, told by its first byte.
static const wchar_t* format_extension() {
    if (work_buffer.data[0] == 0x89) return L".png";
    if (work_buffer.data[0] == 0x38) return L".psd";
    return L".jpg";
}

// "<source name> (n)<extension>" beside the temporary path, or "kept (n)<format's extension>"
// where that would not fit a path; the latter always fits where the temporary name does.
static bool kept_name(const wchar_t* temp, int n, wchar_t* kept) {
    std::wstring source = long_form(record.source);
    const wchar_t* name = name_in(source.c_str());
    const wchar_t* extension = wcsrchr(name, L'.');
    if (!extension) extension = name + wcslen(name);
    wchar_t numbered[path_size];
    swprintf(numbered, path_size, L"%.*ls (%d)%ls", int(extension - name), name, n, extension);
    if (beside(temp, numbered, kept)) return true;
    swprintf(numbered, path_size, L"kept (%d)%ls", n, format_extension());
    return beside(temp, numbered, kept);
}

// Its record first, so that a cut between the two finds the copy still at the temporary path,
// where it is taken up again; MoveFileW never replaces a file, and only a taken name is tried
// under the next number.
static bool move_aside(const wchar_t* temp) {
    wchar_t record_path[path_size], kept[path_size];
    for (int n = 1; n < 10000; n++) {
        if (!kept_name(temp, n, kept)) return false;
        if (GetFileAttributesW(kept) != INVALID_FILE_ATTRIBUTES) continue;
        wcscpy(record.kept, name_in(kept));
        bool recorded = false;
        for (int slot = 1; slot < 1000 && !recorded; slot++) {
            swprintf(record_path, path_size, L"%.*lsxtmp_7x91x4vnq.p%03d", int(name_in(temp) - temp), temp, slot);
            recorded = write_waiting_record(record_path);
            if (!recorded && GetLastError() != ERROR_FILE_EXISTS) break;
        }
        if (!recorded) return false;
        if (MoveFileW(temp, kept)) {
            cut_file(kept, record.copy_length);
            note_waiting(kept, true);
            return true;
        }
        DWORD error = GetLastError();
        DeleteFileW(record_path);
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

// Where the copy cannot move aside it stays at the temporary path, which this process then
// keeps to itself until it ends and cleans through the other folder meanwhile.
Replacement keep_waiting() {
    wchar_t temp[path_size];
    if (!wide_temp_path(temp) || !move_aside(temp)) {
        block_temp_folder();
        keep_lock();
    }
    return kept;
}
