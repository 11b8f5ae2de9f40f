// Drop processing: a dropped list of files and folders cleaned one after the other.
#include "app/app.h"
#include "batch/batch.h"
#include "ui/ui.h"

#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <vector>

// Drops that arrived while a batch ran, taken up in turn once it has ended.
static std::vector<HDROP> deferred_drops;

// The name and extension of a dropped file, ASCII capitals in its last four units lowered.
static void show_dropped_file(const wchar_t* path) {
    wchar_t drive[_MAX_DRIVE], dir[_MAX_DIR], name[_MAX_FNAME], ext[_MAX_EXT];
    _wsplitpath(path, drive, dir, name, ext);
    wchar_t shown[_MAX_FNAME + _MAX_EXT];
    wcscpy(shown, name);
    wcscat(shown, ext);
    size_t length = wcslen(shown);
    for (size_t i = length > 4 ? length - 4 : 0; i < length; i++)
        if (shown[i] >= L'A' && shown[i] <= L'Z') shown[i] += 0x20;
    show_progress(shown);
}

// The dropped item in hand as the shell gave it; source_path may hold its short name.
static wchar_t dropped_path[path_size];

// One dropped item into source_path; false for a path longer than a path buffer holds.
static bool query_item(HDROP drop, UINT index) {
    if (DragQueryFileW(drop, index, nullptr, 0) >= path_size) return false;
    return DragQueryFileW(drop, index, dropped_path, path_size) != 0 && ansi_path(dropped_path, source_path);
}

static void clean_item() {
    if (GetFileAttributesA(source_path) & FILE_ATTRIBUTE_DIRECTORY) {
        strcpy(folder_path, source_path);
        sweep_folder();
        return;
    }
    show_dropped_file(dropped_path);
    clean_when_free();
}

static void run_drop(HWND window, HDROP drop) {
    SetForegroundWindow(window);
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    fill_rect(2, 30, client_width - 2, 188, 0x303030);
    draw_button(4);
    about_shown = 0;
    present();
    target_count = 0;
    changed_count = 0;
    for (UINT index = 0; index < count; index++) {
        if (query_item(drop, index)) clean_item();
        pump();
        if (stop_requested()) break;
        yield_1ms();
    }
    DragFinish(drop);
    end_batch();
    abort_requested = 0;
    show_instructions();
    show_result();
    present();
}

// After a quit or at the end of the session the drop's handle is released and nothing cleaned;
// a close lets every waiting drop run.
static void take_drop(HWND window, HDROP drop) {
    if (!quit_requested) run_drop(window, drop);
    else DragFinish(drop);
}

void process_drop(HWND window, HDROP drop) {
    // A sweep works on process-wide state: a drop pumped in during a batch waits for its end.
    if (batch_busy) {
        deferred_drops.push_back(drop);
        return;
    }
    batch_busy = 1;
    take_drop(window, drop);
    while (!deferred_drops.empty()) {
        HDROP next = deferred_drops.front();
        deferred_drops.erase(deferred_drops.begin());
        take_drop(window, next);
    }
    batch_busy = 0;
}
