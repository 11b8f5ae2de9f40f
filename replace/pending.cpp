// What a replacement cut short by a kill or a power cut leaves in a folder, finished by whoever
// takes the folder next: the temporary file's record first, then waiting replacements. Only this
// user's sealed records act; another's is left as it is, and so is anything that cannot be read
// now. A source that cannot be finished now (held, refusing writes, missing, or not that file:
// another memory card in the same drive) waits.
#include "replace/replace.h"

// The copy, checked in the WorkBuffer, waits for its source: first put with its record into a
// file of this process's own at the temporary name, so that what moves aside and is cut is
// never reached through a link.
static bool wait_aside(int folder) {
    TempFolder& temp = temp_folders[folder];
    HANDLE file = scratch_with_copy(temp.path, true);
    if (file == INVALID_HANDLE_VALUE || !put_over(file, temp.path)) return false;
    temp.stream = stream_of(file, "wb");
    if (!temp.stream) return false;
    keep_waiting(folder);
    return !temp.kept;
}

// No source is touched before a sound record stands after the copy: a temporary file without
// one is stale, and so is one whose copy is not the one sealed. Another user's, or one that
// cannot be read now, may guard a whole image: it is left, and so is its folder, and what it
// names is no input, for a part-way source taken as input could never be proved again.
bool finish_temp(int folder, HANDLE left) {
    ReadState state = read_temp_record(left);
    CloseHandle(left);
    if (state == file_ours && (finish_source() || wait_aside(folder))) return true;
    if (state == file_stale) return true;
    if (!record.source.empty()) note_waiting(temp_folders[folder].path, true);
    return false;
}

// A copy that still has the temporary file's record after it (its move aside was cut short) is
// put anew under its name, never cut through it.
static void put_kept_copy_anew(const std::wstring& kept) {
    HANDLE file = scratch_with_copy(kept, false);
    if (file != INVALID_HANDLE_VALUE && put_over(file, kept)) CloseHandle(file);
}

// A torn record prepared a move aside that never came; a copy that is gone, or no longer the
// one sealed (the user's file now), leaves only the record to go. A record or copy that cannot
// be read now is left for a later take. What another user's record names is no input here either.
static void finish_waiting(const std::wstring& folder, const std::wstring& record_path) {
    ReadState state = read_waiting_record(record_path);
    if (state == file_stale) remove_scratch(record_path);
    if (state == file_stale || record.source.empty()) return;
    std::wstring kept = joined(folder, wide(record.kept));
    uint64_t length = 0;
    if (state == file_ours) state = read_kept_copy(kept, &length);
    if (state == file_missing || state == file_stale) remove_scratch(record_path);
    if (state != file_ours) {
        note_waiting(kept, state == file_foreign || state == file_unreadable);
        return;
    }
    bool finished = finish_source();
    note_waiting(kept, !finished);
    if (!finished && length != record.copy_length) put_kept_copy_anew(kept);
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
    for (const std::wstring& name : files_matching(folder_path, L"xtmp_7x91x4vnq.n*")) remove_scratch(folder_path + name);
    for (const std::wstring& name : files_matching(folder_path, L"xtmp_7x91x4vnq.p*"))
        finish_waiting(folder_path, folder_path + name);
}
