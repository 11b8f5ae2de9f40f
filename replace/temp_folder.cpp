// Where the temporary file goes: beside the program, else in the user's own folder of the
// program's, beside the key, which no other user reads and no disk cleaning empties. A
// batch holds its temporary file, to no other process, from its first file to its end, so
// that nobody writes over the only whole image of a source that it is replacing; every take
// reads what the file held first. A folder that is busy, or whose leftovers this process
// cannot clear, never stops the cleaning: it goes on through the other.
#include "replace/replace.h"

TempFolder temp_folders[2];
int temp_in_use;

static const wchar_t temp_name[] = L"xtmp_7x91x4vnq.xxxx";

void use_temp_folders(const std::wstring& program_folder, const std::wstring& user_folder) {
    end_batch();
    const std::wstring* folders[2] = {&program_folder, &user_folder};
    for (int i = 0; i < 2; i++) {
        TempFolder& folder = temp_folders[i];
        std::wstring full = extended_path(*folders[i]);
        folder.path = full.empty() ? full : joined(full, temp_name);
        folder.blocked = false;
    }
    temp_in_use = 0;
}

static bool usable(int folder) { return !temp_folders[folder].path.empty() && !temp_folders[folder].blocked; }

static void drop_temp(int folder) {
    TempFolder& temp = temp_folders[folder];
    delete_held(temp.file);
    CloseHandle(temp.file);
    temp.file = nullptr;
}

// Another process has it: busy. So is a file whose deletion another run has set going, until
// that run lets go of it: Windows answers access denied for the file and its attributes alike
// (Wine a sharing violation). A folder that takes no file, a file this user may not write, or a
// link: refused.
static Take not_opened(const std::wstring& path) {
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return busy;
    bool pending = error == ERROR_ACCESS_DENIED && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
                   GetLastError() == ERROR_ACCESS_DENIED;
    return pending ? busy : passed_over;
}

static Take hold(int folder, HANDLE file) {
    temp_folders[folder].file = file;
    return taken;
}

// The user's own folder for it is made on first need, private as the key beside it; the
// program's folder, should it be gone, is not.
static HANDLE create_temp(int folder_index, const std::wstring& path) {
    HANDLE file = create_scratch(path);
    if (folder_index == 0 || file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PATH_NOT_FOUND) return file;
    std::wstring folder = folder_of(path);
    folder.pop_back();
    CreateDirectoryW(folder.c_str(), private_attributes());
    return create_scratch(path);
}

// A new temporary file, this user's alone. Where something stands at its name, what it holds is
// finished first or found stale, and a new file of this process's own takes the name; another
// user's, one that cannot be read now, a link to nothing or a name that cannot be taken refuses
// the folder.
static Take open_temp_file(int folder) {
    TempFolder& temp = temp_folders[folder];
    for (int round = 0; round < 3; round++) {
        HANDLE file = create_temp(folder, temp.path);
        if (file != INVALID_HANDLE_VALUE) return hold(folder, file);
        if (GetLastError() != ERROR_FILE_EXISTS) return not_opened(temp.path);
        HANDLE left = open_scratch(temp.path, GENERIC_READ, 0);
        if (left == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) continue;  // gone meanwhile, or a link to nothing
            return not_opened(temp.path);
        }
        if (!finish_temp(folder, left)) return passed_over;
        file = new_scratch_beside(temp.path);
        return file != INVALID_HANDLE_VALUE && put_over(file, temp.path) ? hold(folder, file) : passed_over;
    }
    return passed_over;
}

// The folder's mutex for the take alone: the held file keeps it from there on.
static Take take_folder(int folder) {
    Take take = take_lock(folder);
    if (take == taken) {
        take = open_temp_file(folder);
        if (take == taken) finish_waiting_records(folder);
        release_lock(folder);
    }
    if (take == passed_over) temp_folders[folder].blocked = true;
    return take;
}

bool holds_temp() { return temp_folders[temp_in_use].file && !temp_folders[temp_in_use].kept; }

bool take_temp() {
    temp_busy = false;
    for (int tries = 0; tries < 2; tries++, temp_in_use = 1 - temp_in_use) {
        if (holds_temp()) return true;
        if (!usable(temp_in_use)) continue;
        Take take = take_folder(temp_in_use);
        if (take == taken) return true;
        if (take == busy) {
            temp_busy = true;
            return false;
        }
    }
    return false;
}

void pass_over_temp_folder() {
    if (usable(1 - temp_in_use)) temp_in_use = 1 - temp_in_use;
}

// What is queued is committed first, and every flush settled.
void end_batch() {
    settle_group();
    stop_flushing();
    for (int folder = 0; folder < 2; folder++)
        if (temp_folders[folder].file && !temp_folders[folder].kept) drop_temp(folder);
    temp_in_use = usable(0) ? 0 : 1;
    temp_busy = false;
}

// Whether anything that a replacement cut short may have left stands in the folder: most
// starts find nothing, and take nothing.
static bool has_leftovers(const std::wstring& temp) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((temp.substr(0, temp.size() - 4) + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

void finish_pending_if_free() {
    for (int folder = 0; folder < 2; folder++)
        if (usable(folder) && !temp_folders[folder].file && has_leftovers(temp_folders[folder].path))
            take_folder(folder);
    end_batch();
}
