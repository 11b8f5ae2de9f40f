// What a replacement cut short by a kill or a power cut leaves in a folder, finished by whoever
// takes the folder next: the temporary file's record first, then waiting replacements. Only this
// user's sealed records act; another's is left as it is, and so is anything that cannot be read
// now. A source that cannot be finished now (held, refusing writes, missing, or not that file:
// another memory card in the same drive) waits.
#include "replace/replace.h"

// One replacement that the temporary file holds, its copy checked in the WorkBuffer: finished,
// or waiting beside the temporary file; false where the copy could go nowhere.
static bool finish_unit(const std::wstring& temp) {
    return finish_source(work_buffer.data) || keep_waiting(temp, work_buffer.data);
}

// No source is touched before a sound record stands after its copy, and the records of a group
// follow one another to the file's end: each is read from there back to the start, until one is
// stale (torn, wiped, or its copy not the one sealed), before which nothing needs finishing.
// Another user's record, or one that cannot be read now, may guard a whole image: the file is
// left, and so is its folder, and what it names is no input, for a part-way source taken as
// input could never be proved again.
bool finish_temp(int folder, HANDLE left) {
    const std::wstring& temp = temp_folders[folder].path;
    uint64_t end = 0, start = 0;
    bool leave = !file_size(left, &end);
    for (; end > 0; end = start) {
        ReadState state = read_temp_unit(left, end, &start);
        if (state == file_stale) break;
        if (record.source.empty()) {  // not read: where it starts is not known
            leave = true;
            break;
        }
        if (state == file_ours && finish_unit(temp)) continue;
        leave = true;
        note_waiting(temp, true);
    }
    CloseHandle(left);
    return !leave;
}

// A torn record prepared a wait that never came; a copy that is gone, or no longer the one
// sealed (the user's file now), leaves only the record to go. A record or copy that cannot be
// read now is left for a later take. What another user's record names is no input here either.
static void finish_waiting(const std::wstring& folder, const std::wstring& record_path) {
    ReadState state = read_waiting_record(record_path);
    if (state == file_stale) remove_scratch(record_path);
    if (state == file_stale || record.source.empty()) return;
    std::wstring kept = joined(folder, wide(record.kept));
    if (state == file_ours) state = read_kept_copy(kept);
    if (state == file_missing || state == file_stale) remove_scratch(record_path);
    if (state != file_ours) {
        note_waiting(kept, state == file_foreign || state == file_unreadable);
        return;
    }
    bool finished = finish_source(work_buffer.data);
    note_waiting(kept, !finished);
    if (finished && remove_scratch(kept)) remove_scratch(record_path);
}

// The names in `folder` that match `pattern`, folders passed over.
static std::vector<std::wstring> files_matching(const std::wstring& folder, const wchar_t* pattern) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return found;
    do
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(entry.cFileName);
    while (FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

// New files that a cut left before they took their name go too; one that another run holds
// refuses to be replaced, and stays.
void finish_waiting_records(int folder) {
    std::wstring folder_path = folder_of(temp_folders[folder].path);
    for (const std::wstring& name : files_matching(folder_path, L"xtmp_7x91x4vnq.n*"))
        remove_scratch(folder_path + name);
    for (const std::wstring& name : files_matching(folder_path, L"xtmp_7x91x4vnq.p*"))
        finish_waiting(folder_path, folder_path + name);
}
