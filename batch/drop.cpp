// Drop processing: a dropped list of files and folders cleaned one after the other.
#include "app/app.h"
#include "batch/batch.h"
#include "ui/ui.h"

#include <shellapi.h>

#include <vector>

// Drops that arrived while a batch ran, taken up in turn once it has ended.
static std::vector<HDROP> deferred_drops;

// The name of a dropped file, ASCII capitals in its last four units lowered.
static void show_dropped_file(const std::wstring& path) {
    std::wstring shown = name_in(path);
    for (size_t i = shown.size() > 4 ? shown.size() - 4 : 0; i < shown.size(); i++)
        if (shown[i] >= L'A' && shown[i] <= L'Z') shown[i] += 0x20;
    show_progress(shown.c_str());
}

// One dropped item, as the shell gives it, into source_path.
static bool query_item(HDROP drop, UINT index) {
    UINT length = DragQueryFileW(drop, index, nullptr, 0);
    std::wstring dropped(length + 1, L'\0');
    if (length == 0 || DragQueryFileW(drop, index, &dropped[0], length + 1) != length) return false;
    dropped.resize(length);
    source_path = extended_path(dropped);
    return !source_path.empty();
}

// The program's own scratch files, dropped with the rest, are passed over unseen.
static void clean_item() {
    if (GetFileAttributesW(source_path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
        folder_path = source_path;
        sweep_folder();
        return;
    }
    if (is_scratch_name(source_path)) return;
    show_dropped_file(source_path);
    clean_when_free();
}

static void run_drop(HWND window, HDROP drop) {
    SetForegroundWindow(window);
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
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
    close_batch();
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
