// Start-up and command-line mode.
#include "app/app.h"
#include "batch/batch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

char exe_dir[path_size];
int32_t running;
HWND main_window;
HDC window_dc;


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

bool start_up() {
    target_count = 0;
    changed_count = 0;
    char module_path[path_size];
    if (!own_path(module_path) || !folder_of(module_path, exe_dir)) exe_dir[0] = '\0';
    strcpy(temp_folders[0], exe_dir);
    if (!find_user_temp_dir(temp_folders[1])) temp_folders[1][0] = '\0';
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
        clean_when_free();
        return;
    }
    strcpy(folder_path, source_path);
    sweep_folder();
}

void run_command_line(int argc, wchar_t** argv) {
    finish_pending_if_free();
    for (int i = 1; i < argc; i++) {
        char argument[path_size];
        if (ansi_path(argv[i], argument)) clean_argument(argument);
        pump();
        // Escape, or a stop met while waiting for another process's file in hand
        if (stop_requested()) break;
    }
    yield_1ms();
    release_work_buffer();
    end_batch();
}
