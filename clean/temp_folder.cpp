// Where the temporary file goes: beside the program where a file can be made there, else in
// the user's temporary folder. Leftovers that this process cannot clear from one folder never
// stop the cleaning: it goes on through the other.
#include "clean/clean.h"

#include <windows.h>

#include <cstring>

char temp_folders[2][path_size];

static const char temp_name[] = "xtmp_7x91x4vnq.xxxx";
static char blocked[2][path_size];  // temporary paths whose leftovers this process cannot clear

// temp_path in `folder`; false when the name does not fit beside it.
static bool put_temp_path_in(const char* folder) {
    if (folder[0] == '\0' || strlen(folder) + strlen(temp_name) >= path_size) return false;
    strcpy(temp_path, folder);
    strcat(temp_path, temp_name);
    return true;
}

// Whether a file can be made in the folder: one named after this process, gone when closed.
static bool takes_files(const char* folder) {
    char probe[path_size];
    snprintf(probe, sizeof probe, "%sxtp%08lx.tmp", folder, GetCurrentProcessId());
    HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

void choose_temp_path() {
    for (const char* folder : temp_folders)
        if (put_temp_path_in(folder) && takes_files(folder)) return;
    // Neither takes it: the copies fail as they would, beside the program if it can be named.
    if (!put_temp_path_in(temp_folders[0])) put_temp_path_in(temp_folders[1]);
}

static bool is_blocked(const char* path) {
    for (const char* path_blocked : blocked)
        if (strcmp(path_blocked, path) == 0) return true;
    return false;
}

void block_temp_folder() {
    for (char* slot : blocked)
        if (slot[0] == '\0' || strcmp(slot, temp_path) == 0) {
            strcpy(slot, temp_path);
            return;
        }
}

static bool use_other_temp_folder() {
    char was[path_size];
    strcpy(was, temp_path);
    for (const char* folder : temp_folders)
        if (put_temp_path_in(folder) && strcmp(temp_path, was) != 0 && !is_blocked(temp_path) && takes_files(folder))
            return true;
    strcpy(temp_path, was);
    return false;
}

bool take_temp() {
    while (take_lock()) {
        if (leftovers_unchecked()) finish_pending();
        if (!is_blocked(temp_path)) return true;
        release_temp();
        if (!use_other_temp_folder()) return false;
    }
    return false;
}

static void finish_pending_here() {
    if (take_lock()) {
        leftovers_unchecked();
        finish_pending();
        release_temp();
    }
    temp_busy = false;
}

void end_batch() {
    if (!is_blocked(temp_path) && GetFileAttributesA(temp_path) != INVALID_FILE_ATTRIBUTES && take_lock()) {
        if (leftovers_unchecked()) finish_pending();
        else delete_temp();
        release_temp();
    }
    temp_busy = false;
}

// The chosen folder last, so that its mutex stays at hand for the first file.
void finish_pending_if_free() {
    char chosen[path_size];
    strcpy(chosen, temp_path);
    for (const char* folder : temp_folders)
        if (put_temp_path_in(folder) && strcmp(temp_path, chosen) != 0) finish_pending_here();
    strcpy(temp_path, chosen);
    finish_pending_here();
}
