// The folder sweep and the steps shared by every batch.
#include "app/app.h"
#include "batch/batch.h"
#include "ui/ui.h"

#include <cstring>
#include <cwchar>

char folder_path[path_size];
uint8_t abort_requested;
uint8_t batch_busy;
uint8_t quit_requested;

static const char* const patterns[] = {"*.jpg", "*.jpeg", "*.png", "*.psd"};
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

void clean_when_free() {
    for (clean_file(); temp_busy; clean_file()) {
        wait_for_temp();
        pump();
        if (stop_requested()) {
            release_temp();
            return;
        }
    }
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

// Drawn from UTF-16: the font reads TextOutA's bytes as Shift-JIS whatever the code page, and
// an ANSI path may be the short name, which the user never gave.
void show_progress(const wchar_t* name) {
    if (!canvas_dc) return;  // command-line mode has nothing to draw on
    fill_rect(2, 30, client_width - 2, 148, 0x303030);
    TextOutW(canvas_dc, 10, 30, name, fitting_units(name, int(wcslen(name))));
    present();
}

// Windows refuses the best-fit flag, and a default character, for these code pages
// (ERROR_INVALID_FLAGS): the round trip in spell_in tells a lossy spelling without them.
DWORD narrowing_flags(UINT code_page) {
    if (code_page >= 57002 && code_page <= 57011) return 0;  // ISCII
    switch (code_page) {
    case 42:     // Symbol
    case 50220:  // ISO-2022 Japanese
    case 50221:
    case 50222:
    case 50225:  // ISO-2022 Korean
    case 50227:  // ISO-2022 Simplified Chinese
    case 50229:  // ISO-2022 Traditional Chinese
    case 54936:  // GB18030
    case 65000:  // UTF-7
    case 65001:  // UTF-8, also the ANSI code page of a system set to use it
        return 0;
    default:
        return WC_NO_BEST_FIT_CHARS;
    }
}

// The round trip alone tells a lossless spelling: a replaced or best-fitted letter comes back
// as another one, and it works for every code page, UTF-8 included.
bool spell_in(UINT code_page, const wchar_t* wide, char* to) {
    if (WideCharToMultiByte(code_page, narrowing_flags(code_page), wide, -1, to, path_size, nullptr, nullptr) == 0)
        return false;
    wchar_t back[path_size];
    if (MultiByteToWideChar(code_page, 0, to, -1, back, path_size) == 0) return false;
    return wcscmp(back, wide) == 0;
}

bool spell_ansi(const wchar_t* wide, char* to) { return spell_in(GetACP(), wide, to); }

bool ansi_path(const wchar_t* wide, char* to) {
    if (spell_ansi(wide, to)) return true;
    wchar_t short_path[path_size];
    DWORD length = GetShortPathNameW(wide, short_path, path_size);
    return length != 0 && length < path_size && spell_ansi(short_path, to);
}

// folder + "\" + name into `to`; false when it would not fit a path buffer.
static bool join_path(char* to, const char* folder, const char* name) {
    if (strlen(folder) + 1 + strlen(name) >= path_size) return false;
    strcpy(to, folder);
    strcat(to, "\\");
    strcat(to, name);
    return true;
}

// One spelling of a found name joined to folder_path, if the code page spells it and it fits.
static bool join_found(char* to, const wchar_t* name) {
    char spelt[path_size];
    return spell_ansi(name, spelt) && join_path(to, folder_path, spelt);
}

// The found file's path by its name as the code page spells it, else by its short name, which
// also serves where the long one would overflow a path buffer; names already 8.3 have none.
static bool found_path(const WIN32_FIND_DATAW& entry, char* to) {
    if (join_found(to, entry.cFileName)) return true;
    return entry.cAlternateFileName[0] != L'\0' && join_found(to, entry.cAlternateFileName);
}

void sweep_pattern(const char* pattern) {
    char search[path_size];
    if (!join_path(search, folder_path, pattern)) return;
    // The wide find data carries the short name of a name that the code page cannot spell.
    wchar_t wide_search[path_size];
    if (MultiByteToWideChar(CP_ACP, 0, search, -1, wide_search, path_size) == 0) return;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(wide_search, &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        char path[path_size];
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!found_path(entry, path)) continue;
        show_progress(entry.cFileName);
        pump();
        if (stop_requested()) break;
        strcpy(source_path, path);
        clean_when_free();
        yield_1ms();
    } while (FindNextFileW(find, &entry));
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
