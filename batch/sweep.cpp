// The folder sweep and the steps shared by every batch.
#include "app/app.h"
#include "batch/batch.h"
#include "ui/ui.h"

#include <cwchar>

std::wstring folder_path;
uint8_t abort_requested;
uint8_t batch_busy;
uint8_t quit_requested;

static const wchar_t* const patterns[] = {L"*.jpg", L"*.jpeg", L"*.png", L"*.psd"};
constexpr int display_width = 360;  // 60 half-width cells of ui_font: from x = 10, inside the window

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
    if (quit_requested) abort_requested = 1;
    return abort_requested != 0;
}

constexpr ULONGLONG busy_for_long = 1000;  // ms after which a busy folder is passed over
constexpr DWORD busy_wait = 50;            // ms between tries, less when a message arrives
constexpr DWORD flush_grace = 100;         // ms of flushing before the window's messages are dispatched meanwhile

void clean_when_free() {
    ULONGLONG busy_since = GetTickCount64();
    for (clean_file(); temp_busy; clean_file()) {
        if (GetTickCount64() - busy_since >= busy_for_long) {
            pass_over_temp_folder();
            busy_since = GetTickCount64();
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, busy_wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        pump();
        if (stop_requested()) return;
    }
    if (!group_due) return;
    wait_for_flushes();
    commit_group();
}

// Most flushes return before a user could tell: messages wait for them as they wait for a file.
void wait_for_flushes() {
    if (!flushes_done || WaitForSingleObject(flushes_done, flush_grace) != WAIT_TIMEOUT) return;
    while (MsgWaitForMultipleObjectsEx(1, &flushes_done, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0)
        pump();
}

void close_batch() {
    wait_for_flushes();
    commit_group();
    wait_for_flushes();
    end_batch();
}

// Where the character at `at` ends: a surrogate pair is one character, and so is a letter
// with the marks drawn over it.
static int character_end(const wchar_t* text, int at, int length) {
    at += at + 1 < length && IS_SURROGATE_PAIR(text[at], text[at + 1]) ? 2 : 1;
    WORD type = 0;
    while (at < length && GetStringTypeW(CT_CTYPE3, text + at, 1, &type) && (type & C3_NONSPACING)) at++;
    return at;
}

// The units of the whole characters that fit display_width.
static int fitting_units(const wchar_t* text, int length) {
    int fit = 0;
    SIZE size{};
    for (int next; fit < length; fit = next) {
        next = character_end(text, fit, length);
        GetTextExtentPoint32W(canvas_dc, text, next, &size);
        if (size.cx > display_width) break;
    }
    return fit;
}

// Drawn from UTF-16: the font reads TextOutA's bytes as Shift-JIS whatever the code page.
void show_progress(const wchar_t* name) {
    if (!canvas_dc) return;  // command-line mode has nothing to draw on
    fill_rect(2, 30, client_width - 2, 148, 0x303030);
    TextOutW(canvas_dc, 10, 30, name, fitting_units(name, int(wcslen(name))));
    present();
}

void sweep_pattern(const wchar_t* pattern) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(joined(folder_path, pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        show_progress(entry.cFileName);
        pump();
        if (stop_requested()) break;
        source_path = joined(folder_path, entry.cFileName);
        clean_when_free();
        yield_1ms();
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

void sweep_folder() {
    abort_requested = 0;
    release_work_buffer();
    // An empty folder path would search the current directory, which nobody named.
    for (const wchar_t* pattern : patterns) {
        if (folder_path.empty() || abort_requested) break;
        sweep_pattern(pattern);
    }
    yield_1ms();
    release_work_buffer();
}
