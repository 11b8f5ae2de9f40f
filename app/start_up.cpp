// Start-up and command-line mode.
#include "app/app.h"
#include "batch/batch.h"

#include <cstdlib>
#include <cstring>

char exe_dir[path_size];
int32_t running;
HWND main_window;
HDC window_dc;

static const char temp_name[] = "xtmp_7x91x4vnq.xxxx";

bool start_up() {
    char module_path[path_size];
    DWORD length = GetModuleFileNameA(nullptr, module_path, path_size);
    if (length == 0 || length >= path_size) return false;
    char drive[path_size + 1], dir[path_size + 1], name[path_size + 1], ext[path_size + 1];
    if (_splitpath_s(module_path, drive, sizeof drive, dir, sizeof dir, name, sizeof name, ext, sizeof ext) != 0)
        return false;
    if (strlen(drive) + strlen(dir) + strlen(temp_name) >= path_size) return false;
    strcpy(exe_dir, drive);
    strcat(exe_dir, dir);
    strcpy(temp_path, exe_dir);
    strcat(temp_path, temp_name);
    target_count = 0;
    changed_count = 0;
    return true;
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
}
