// One cleaning at a time per temporary path, across processes: a named mutex, made once per
// path, taken for each file. Whoever takes it first in a process, or after a holder died,
// finishes what an interrupted replacement left beside the temporary path.
#include "clean/clean.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <initializer_list>

static HANDLE temp_lock;             // the machine-wide mutex of temp_path
static char locked_path[path_size];  // the temp_path that temp_lock guards
static bool lock_is_new;             // not yet taken in this process
static bool unchecked;               // taken first in this process, or from a holder that died: leftovers unchecked
static bool lock_owned;              // this process holds temp_lock
static bool lock_kept;               // held until the process ends: the only whole image of a source stands at temp_path

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

// The mutex for the current temp_path, made once per path. A handle whose mutex this process
// must go on holding is never closed: the mutex would vanish with its last handle.
static bool find_lock() {
    if (temp_lock && strcmp(locked_path, temp_path) == 0) return true;
    release_temp();
    if (temp_lock && !lock_kept) CloseHandle(temp_lock);
    temp_lock = nullptr;
    lock_kept = false;
    lock_owned = false;
    unchecked = false;
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
    lock_is_new = true;
    return temp_lock != nullptr;
}

// Taken: a holder that died, or one before this process's first look, may have left a
// replacement part-way, which comes before anything else.
static bool taken(DWORD woke) {
    if (woke != WAIT_OBJECT_0 && woke != WAIT_ABANDONED_0) return false;
    lock_owned = true;
    unchecked = unchecked || lock_is_new || woke == WAIT_ABANDONED_0;
    lock_is_new = false;
    return true;
}

bool leftovers_unchecked() {
    bool was = unchecked;
    unchecked = false;
    return was;
}

bool take_lock() {
    if (lock_owned && strcmp(locked_path, temp_path) == 0) return true;
    if (!find_lock()) return false;
    DWORD woke = WaitForSingleObject(temp_lock, 0);
    temp_busy = woke == WAIT_TIMEOUT;
    return taken(woke);
}

// Taken here, the mutex stays with this process for the next clean_file.
void wait_for_temp() {
    if (lock_owned || !find_lock()) return;
    taken(MsgWaitForMultipleObjectsEx(1, &temp_lock, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE));
}

void keep_lock() { lock_kept = true; }

void release_temp() {
    if (!lock_owned || lock_kept) return;
    ReleaseMutex(temp_lock);
    lock_owned = false;
}
