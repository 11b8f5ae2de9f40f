// What a replacement cut short by a kill or a power cut leaves beside the temporary path,
// finished by whoever takes the path first in a process: waiting replacements, then the
// temporary file. A source that cannot be finished now (held, refusing writes, missing, or not
// that file: another memory card in the same drive) waits.
#include "clean/clean.h"

#include <windows.h>

#include <string>
#include <vector>

static const wchar_t waiting_pattern[] = L"xtmp_7x91x4vnq.p*";

void delete_temp() {
    int tries = 0;
    while (!DeleteFileA(temp_path) && held_for_a_moment(&tries)) {}
}

// A torn record prepared a move aside that never came; a copy that is gone, or no longer the
// one recorded (the user's file now), leaves only the record to go. A copy that cannot be read
// now leaves both for the next start.
static void finish_waiting(const wchar_t* record_path) {
    ReadState state = read_record(record_path, false);
    if (state == file_unsound) DeleteFileW(record_path);
    if (state != file_sound) return;
    wchar_t kept[path_size];
    uint64_t length = 0;
    if (!beside(record_path, record.kept, kept)) return;
    state = read_kept_copy(kept, &length);
    if (state == file_missing || state == file_unsound) DeleteFileW(record_path);
    if (state == file_unreadable) note_waiting(kept, true);
    if (state != file_sound) return;
    if (length != record.copy_length) cut_file(kept, record.copy_length);
    bool finished = finish_source();
    note_waiting(kept, !finished);
    if (finished && (DeleteFileW(kept) || GetLastError() == ERROR_FILE_NOT_FOUND)) DeleteFileW(record_path);
}

static void finish_waiting_records(const wchar_t* temp) {
    wchar_t search[path_size];
    if (!beside(temp, waiting_pattern, search)) return;
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        wchar_t path[path_size];
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && beside(temp, entry.cFileName, path))
            found.push_back(path);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    for (const std::wstring& path : found) finish_waiting(path.c_str());
}

// No source is touched before a sound record stands after the copy: a temporary file without
// one is stale, and one whose copy fails its check guards nothing. One that cannot be read may
// guard a whole image: it is left, and so is its folder.
static void finish_temp(const wchar_t* temp) {
    ReadState state = read_record(temp, true);
    if (state == file_missing) return;
    if (state == file_unreadable) {
        block_temp_folder();
        return;
    }
    if (state == file_sound && !finish_source()) {
        keep_waiting();
        return;
    }
    delete_temp();
    if (GetFileAttributesW(temp) != INVALID_FILE_ATTRIBUTES) block_temp_folder();
}

void finish_pending() {
    wchar_t temp[path_size];
    if (!wide_temp_path(temp)) return;
    finish_waiting_records(temp);
    finish_temp(temp);
}
