// Start-up and command-line mode.
#include "app/app.h"
#include "batch/batch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

char exe_dir[path_size];
int32_t running;
HWND main_window;
HDC window_dc;

static const char temp_name[] = "xtmp_7x91x4vnq.xxxx";
static char user_temp_dir[path_size];  // the user's temporary folder, ending in a backslash; may be empty

bool own_path(char* path) {
    wchar_t wide[1024];
    DWORD length = GetModuleFileNameW(nullptr, wide, 1024);
    return length != 0 && length < 1024 && ansi_path(wide, path);
}

// The folder of a path, with its trailing backslash.
static bool folder_of(const char* path, char* folder) {
    char drive[path_size + 1], dir[path_size + 1], name[path_size + 1], ext[path_size + 1];
    if (_splitpath_s(path, drive, sizeof drive, dir, sizeof dir, name, sizeof name, ext, sizeof ext) != 0)
        return false;
    if (strlen(drive) + strlen(dir) >= path_size) return false;
    strcpy(folder, drive);
    strcat(folder, dir);
    return true;
}

static bool find_user_temp_dir(char* folder) {
    wchar_t wide[1024];
    DWORD length = GetTempPathW(1024, wide);
    return length != 0 && length < 1024 && ansi_path(wide, folder);
}

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
    if (!find_user_temp_dir(user_temp_dir)) user_temp_dir[0] = '\0';
    for (const char* folder : {exe_dir, user_temp_dir})
        if (put_temp_path_in(folder) && takes_files(folder)) return;
    // Neither takes it: the copies fail as they would, beside the program if it can be named.
    if (!put_temp_path_in(exe_dir)) put_temp_path_in(user_temp_dir);
}

void finish_interrupted_replacements() {
    char chosen[path_size];
    strcpy(chosen, temp_path);
    for (const char* folder : {exe_dir, user_temp_dir})
        if (!copy_kept_at_temp && put_temp_path_in(folder)) tidy_journal();
    if (!copy_kept_at_temp) strcpy(temp_path, chosen);
}

bool start_up() {
    target_count = 0;
    changed_count = 0;
    char module_path[path_size];
    if (!own_path(module_path) || !folder_of(module_path, exe_dir)) exe_dir[0] = '\0';
    choose_temp_path();
    return temp_path[0] != '\0';
}

// A path that does not exist reads as a folder too; its sweep finds nothing.
static bool names_folder(const char* path) {
    return (GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static void clean_argument(const char* argument) {
    size_t length = strlen(argument);
    if (length == 0 || length >= path_size) return;  // nothing, or more than a path can hold
    strcpy(source_path, argument);
    if (!names_folder(source_path)) {
        clean_file();
        return;
    }
    strcpy(folder_path, source_path);
    sweep_folder();
}

void run_command_line(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; i++) {
        char argument[path_size];
        if (ansi_path(argv[i], argument)) clean_argument(argument);
        pump();
        // Escape, or a stop met inside a file (while waiting for another process's file in hand)
        if (stop_requested()) break;
    }
    yield_1ms();
    release_work_buffer();
    tidy_journal();
}
