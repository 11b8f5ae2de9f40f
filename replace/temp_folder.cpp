// Where the temporary file goes: beside the program, else in the user's temporary folder. A
// batch holds its temporary file, to no other process, from its first file to its end, so
// that nobody writes over the only whole image of a source that it is replacing; every take
// reads what the file held first. A folder that is busy, or whose leftovers this process
// cannot clear, never stops the cleaning: it goes on through the other.
#include "replace/replace.h"

TempFolder temp_folders[2];
int temp_in_use;

static const wchar_t temp_name[] = L"xtmp_7x91x4vnq.xxxx";

void use_temp_folders(const std::wstring& program_folder, const std::wstring& user_folder) {
    const std::wstring* folders[2] = {&program_folder, &user_folder};
    for (int i = 0; i < 2; i++) {
        TempFolder& folder = temp_folders[i];
        if (folder.stream && !folder.kept) drop_temp(i);
        std::wstring full = extended_path(*folders[i]);
        folder.path = full.empty() ? full : joined(full, temp_name);
        folder.blocked = false;
    }
    temp_in_use = 0;
}

static bool usable(int folder) { return !temp_folders[folder].path.empty() && !temp_folders[folder].blocked; }

bool drop_temp(int folder) {
    TempFolder& temp = temp_folders[folder];
    FILE_DISPOSITION_INFO gone = {TRUE};
    bool dropped = SetFileInformationByHandle(handle_of(temp.stream), FileDispositionInfo, &gone, sizeof gone);
    if (temp_stream == temp.stream) temp_stream = nullptr;
    fclose(temp.stream);
    temp.stream = nullptr;
    return dropped;
}

enum Take { taken, busy, passed_over };

// A file made here is this user's alone; one that another run left is read before anything
// is written into it.
static HANDLE open_temp(const std::wstring& path, DWORD how) {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                       how == CREATE_NEW ? private_attributes() : nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Another process has it: busy. So is a file whose deletion another run has set going, until
// that run lets go of it: Windows answers access denied for the file and its attributes alike
// (Wine a sharing violation). A folder that takes no file, or a file this user may not write: refused.
static Take not_opened(const std::wstring& path) {
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return busy;
    bool pending = error == ERROR_ACCESS_DENIED && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
                   GetLastError() == ERROR_ACCESS_DENIED;
    return pending ? busy : passed_over;
}

// A new temporary file, this user's alone. Where one stands, what it holds is finished first
// or found stale and it goes; another user's, or one that cannot be cleared, refuses the folder.
static Take open_temp_file(int folder) {
    TempFolder& temp = temp_folders[folder];
    for (int round = 0; round < 3; round++) {
        HANDLE file = open_temp(temp.path, CREATE_NEW);
        bool made = file != INVALID_HANDLE_VALUE;
        if (!made && GetLastError() == ERROR_FILE_EXISTS) file = open_temp(temp.path, OPEN_EXISTING);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) continue;  // gone meanwhile
            return not_opened(temp.path);
        }
        temp.stream = stream_of(file, "wb");
        if (!temp.stream) return passed_over;
        if (made) return taken;
        finish_temp(folder);
        if (temp.blocked) return passed_over;
    }
    return busy;
}

// The folder's mutex for the take alone: the held file keeps it from there on.
static Take take_folder(int folder) {
    if (!take_lock(folder)) return busy;
    Take take = open_temp_file(folder);
    if (take == taken) finish_waiting_records(folder);
    release_lock(folder);
    if (take == passed_over) temp_folders[folder].blocked = true;
    return take;
}

bool take_temp() {
    temp_busy = false;
    temp_stream = nullptr;
    for (int tries = 0; tries < 2; tries++, temp_in_use = 1 - temp_in_use) {
        TempFolder& temp = temp_folders[temp_in_use];
        if (temp.stream && !temp.kept) {
            temp_stream = temp.stream;
            return true;
        }
        if (!usable(temp_in_use)) continue;
        Take take = take_folder(temp_in_use);
        if (take == taken) {
            temp_stream = temp.stream;
            return true;
        }
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

void end_batch() {
    for (int folder = 0; folder < 2; folder++)
        if (temp_folders[folder].stream && !temp_folders[folder].kept) drop_temp(folder);
    temp_stream = nullptr;
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
        if (usable(folder) && !temp_folders[folder].stream && has_leftovers(temp_folders[folder].path))
            take_folder(folder);
    end_batch();
}
