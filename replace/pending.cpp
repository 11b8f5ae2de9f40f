// What a replacement cut short by a kill or a power cut leaves in a folder, finished by whoever
// takes the folder next: the temporary file's record first, then waiting replacements. Only this
// user's sealed records act; another's is left as it is, and so is anything that cannot be read
// now. A source that cannot be finished now (held, refusing writes, missing, or not that file:
// another memory card in the same drive) waits.
#include "replace/replace.h"

static const wchar_t waiting_pattern[] = L"xtmp_7x91x4vnq.p*";

static bool cut_file(const std::wstring& path, uint64_t length) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool cut = cut_at(file, length);
    return CloseHandle(file) && cut;
}

// No source is touched before a sound record stands after the copy: a temporary file without
// one is stale, and so is one whose copy is not the one sealed. Another user's, or one that
// cannot be read now, may guard a whole image: it is left, and so is its folder, and what it
// names is no input; so is one that cannot be deleted.
void finish_temp(int folder) {
    TempFolder& temp = temp_folders[folder];
    ReadState state = read_temp_record(handle_of(temp.stream));
    if (state == file_foreign) note_waiting(temp.path, true);
    if (state == file_ours && !finish_source()) {
        keep_waiting(folder);
        return;
    }
    if ((state == file_ours || state == file_stale) && drop_temp(folder)) return;
    if (temp.stream) {
        if (temp_stream == temp.stream) temp_stream = nullptr;
        fclose(temp.stream);
        temp.stream = nullptr;
    }
    temp.blocked = true;
}

// A torn record prepared a move aside that never came; a copy that is gone, or no longer the
// one sealed (the user's file now), leaves only the record to go. A copy that cannot be read
// now leaves both for a later take. What another user's record names is no input here either.
static void finish_waiting(const std::wstring& folder, const std::wstring& record_path) {
    ReadState state = read_waiting_record(record_path);
    if (state == file_stale) DeleteFileW(record_path.c_str());
    if (state != file_ours && state != file_foreign) return;
    std::wstring kept = joined(folder, wide(record.kept));
    if (state == file_foreign) {
        note_waiting(kept, true);
        return;
    }
    uint64_t length = 0;
    state = read_kept_copy(kept, &length);
    if (state == file_missing || state == file_stale) DeleteFileW(record_path.c_str());
    if (state == file_unreadable) note_waiting(kept, true);
    if (state != file_ours) return;
    if (length != record.copy_length) cut_file(kept, record.copy_length);
    bool finished = finish_source();
    note_waiting(kept, !finished);
    if (finished && (DeleteFileW(kept.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND))
        DeleteFileW(record_path.c_str());
}

void finish_waiting_records(int folder) {
    const std::wstring& temp = temp_folders[folder].path;
    std::wstring folder_path = temp.substr(0, size_t(name_in(temp) - temp.c_str()));
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder_path + waiting_pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(entry.cFileName);
    while (FindNextFileW(find, &entry));
    FindClose(find);
    for (const std::wstring& name : found) finish_waiting(folder_path, folder_path + name);
}
