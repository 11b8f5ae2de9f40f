// The folder sweep and the steps shared by every batch.
#include "app/app.h"
#include "batch/batch.h"
#include "ui/ui.h"

#include <cstring>

char folder_path[path_size];
uint8_t abort_requested;
uint8_t batch_busy;

static const char* const patterns[] = {"*.jpg", "*.jpeg", "*.png", "*.psd"};
constexpr size_t display_limit = 60;

void pump() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void yield_1ms() {
    timeBeginPeriod(1);
    Sleep(1);
    timeEndPeriod(1);
}

bool stop_requested() {
    if (GetAsyncKeyState(VK_ESCAPE) != 0) abort_requested = 1;
    // Once the window is closing no further file is cleaned; the command line never sets running.
    if (main_window && !running) abort_requested = 1;
    return abort_requested != 0;
}

void show_progress(const char* name) {
    if (!canvas_dc) return;  // command-line mode has nothing to draw on
    fill_rect(2, 30, client_width - 2, 148, 0x303030);
    size_t length = strlen(name);
    TextOutA(canvas_dc, 10, 30, name, int(length < display_limit ? length : display_limit));
    present();
}

// folder + "\" + name into `to`; false when it would not fit a path buffer.
static bool join_path(char* to, const char* folder, const char* name) {
    if (strlen(folder) + 1 + strlen(name) >= path_size) return false;
    strcpy(to, folder);
    strcat(to, "\\");
    strcat(to, name);
    return true;
}

void sweep_pattern(const char* pattern) {
    char search[path_size];
    if (!join_path(search, folder_path, pattern)) return;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(search, &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        show_progress(entry.cFileName);
        pump();
        if (stop_requested()) break;
        if (!join_path(source_path, folder_path, entry.cFileName)) continue;
        clean_file();
        yield_1ms();
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

void sweep_folder() {
    abort_requested = 0;
    release_work_buffer();
    // An empty folder path would search the current directory, which nobody named.
    for (const char* pattern : patterns) {
        if (folder_path[0] == '\0' || abort_requested) break;
        sweep_pattern(pattern);
    }
    yield_1ms();
    release_work_buffer();
}
