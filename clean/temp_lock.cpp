// One cleaning at a time per temporary path, across processes: a named mutex, made once per
// path, taken for each file.
#include "clean/clean.h"
#include "batch/batch.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <initializer_list>

static HANDLE temp_lock;             // the machine-wide mutex of temp_path
static char locked_path[path_size];  // the temp_path that temp_lock guards
static bool lock_is_new;             // not yet taken in this process: its journal is unchecked

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
    if (temp_lock && !copy_kept_at_temp) CloseHandle(temp_lock);
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
    lock_is_new = true;
    return temp_lock != nullptr;
}

// Taken: a holder that died, or one before this process's first look, may have left a
// replacement half done, which comes before anything else.
static bool taken(DWORD woke) {
    if (woke != WAIT_OBJECT_0 && woke != WAIT_ABANDONED_0) return false;
    if (lock_is_new || woke == WAIT_ABANDONED_0) finish_interrupted_replacement();
    lock_is_new = false;
    return true;
}

// Messages go on to the usual pump while another process has its file in hand, so that the
// window paints and Escape or quit stop the batch.
bool take_lock() {
    if (!find_lock()) return false;
    if (taken(WaitForSingleObject(temp_lock, 0))) return true;
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjectsEx(1, &temp_lock, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (taken(woke)) return true;
        if (woke == WAIT_FAILED) return false;
        if (woke == WAIT_OBJECT_0 + 1) pump();
        if (stop_requested()) return false;
    }
}

void release_lock() {
    if (!copy_kept_at_temp) ReleaseMutex(temp_lock);
}

bool take_lock_if_free() { return find_lock() && taken(WaitForSingleObject(temp_lock, 0)); }
