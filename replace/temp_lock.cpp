// One take of a folder at a time among this user's runs: a named mutex per folder, made once
// and taken without waiting while the folder's temporary file is opened and what it holds is
// finished. What keeps the temporary file from being taken over is the file itself, held to no
// other process: that holds across spellings of the folder, sessions and machines. The name is
// no secret: a mutex there that this user's brinq.exe did not make is never waited for.
#include "replace/replace.h"

#include <aclapi.h>

static HANDLE locks[2];             // each folder's mutex, once made; null where it is not this user's
static std::wstring locked_path[2];  // the temporary path that each guards

// The folder's long form, upper-cased: one text for every spelling, with or without \\?\.
static std::wstring spelt_once(const std::wstring& temp) {
    std::wstring folder = long_form(folder_of(temp));
    CharUpperBuffW(&folder[0], DWORD(folder.size()));
    return folder;
}

// FNV-1a of the folder's one spelling: a name, not a secret.
std::wstring temp_lock_name(const std::wstring& temp) {
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : spelt_once(temp)) hash = (hash ^ uint16_t(c)) * 1099511628211ull;
    wchar_t text[17];
    swprintf(text, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return L"Global\\brinq_" + user_sid_text() + L"_" + text;
}

// This user's brinq.exe makes its mutexes with this user as their owner; anyone else's, or one
// whose owner cannot be read, is not.
static bool made_by_this_user(HANDLE lock) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(lock, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    bool ours = owner && this_user() && EqualSid(owner, this_user());
    LocalFree(descriptor);
    return ours;
}

// This user's alone: no other user can take it, hold it or change who may.
static HANDLE create_lock(const std::wstring& name) {
    HANDLE lock = CreateMutexW(private_attributes(), FALSE, name.c_str());
    if (!lock) lock = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE, name.c_str());
    // Where the global namespace is closed to this process, its own session's still serves.
    if (!lock) lock = CreateMutexW(private_attributes(), FALSE, (L"Local" + name.substr(6)).c_str());
    if (!lock || made_by_this_user(lock)) return lock;
    CloseHandle(lock);
    return nullptr;
}

Take take_lock(int folder) {
    const std::wstring& temp = temp_folders[folder].path;
    if (locks[folder] && locked_path[folder] != temp) {
        CloseHandle(locks[folder]);
        locks[folder] = nullptr;
    }
    if (!locks[folder]) locks[folder] = create_lock(temp_lock_name(temp));
    locked_path[folder] = temp;
    if (!locks[folder]) return passed_over;
    DWORD woke = WaitForSingleObject(locks[folder], 0);
    return woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0 ? taken : busy;
}

void release_lock(int folder) { ReleaseMutex(locks[folder]); }
