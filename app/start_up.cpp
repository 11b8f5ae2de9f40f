// Start-up and command-line mode.
#include "app/app.h"
#include "batch/batch.h"

std::wstring exe_dir;
int32_t running;
HWND main_window;
HDC window_dc;

// A path that the system writes into a buffer of a size it cannot tell beforehand: asked with a
// larger buffer until it fits, up to the longest path there is.
static std::wstring module_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
        if (length == 0) return L"";
        if (length < path.size()) return path.substr(0, length);
        if (path.size() > max_path_units) return L"";
        path.resize(path.size() * 2);
    }
}

std::wstring own_path() { return extended_path(module_path()); }

static std::wstring environment_folder(const wchar_t* name) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    std::wstring value(size, L'\0');
    DWORD length = size ? GetEnvironmentVariableW(name, &value[0], size) : 0;
    return length > 0 && length < size ? value.substr(0, length) : L"";
}

// The key lives in the user's own local profile, which Disk Cleanup and Storage Sense leave
// alone and no other user reads; so does the temporary file where the program's folder takes
// none, and with it a copy that waits for its source.
static std::wstring user_key_folder() {
    std::wstring local = environment_folder(L"LOCALAPPDATA");
    return local.empty() ? local : joined(extended_path(local), L"Brindlequist");
}

bool start_up() {
    target_count = 0;
    changed_count = 0;
    std::wstring path = own_path();
    exe_dir = path.substr(0, size_t(name_in(path) - path.c_str()));
    key_folder = user_key_folder();
    use_temp_folders(exe_dir, key_folder);
    return !temp_folders[0].path.empty() || !temp_folders[1].path.empty();
}

// A path that does not exist reads as a folder too; its sweep finds nothing.
static bool names_folder(const std::wstring& path) {
    return (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static void clean_argument(const wchar_t* argument) {
    source_path = extended_path(argument);
    if (source_path.empty()) return;  // nothing, or no path the system can make
    if (!names_folder(source_path)) {
        clean_when_free();
        return;
    }
    folder_path = source_path;
    sweep_folder();
}

void run_command_line(int argc, wchar_t** argv) {
    finish_pending_if_free();
    for (int i = 1; i < argc; i++) {
        clean_argument(argv[i]);
        pump();
        // Escape, or a stop met while waiting for another process's file in hand
        if (stop_requested()) break;
    }
    yield_1ms();
    close_batch();
    release_work_buffer();
}
