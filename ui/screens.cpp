// The screens: frame and title bar, instructions, the result line and the about screen.
// Texts are Shift-JIS bytes; the readable text stands beside each.
#include "ui/ui.h"
#include "clean/clean.h"
#include "emblem/emblem.h"

#include <cstdio>
#include <cstring>

uint8_t about_shown;

const TextLine title_line = {5, 4, "    Brindlequist", 16};  // the icon covers the leading spaces

const TextLine instruction_lines[3] = {
    // [ png jpg psd ] ファイルの不要データ部分を除去します。
    {25, 40, "[ png jpg psd ] \x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x95\x73\x97\x76\x83\x66\x81\x5B"
             "\x83\x5E\x95\x94\x95\xAA\x82\xF0\x8F\x9C\x8B\x8E\x82\xB5\x82\xDC\x82\xB7\x81\x42", 54},
    // ファイルまたはフォルダをここにドラッグしてください。
    {25, 55, "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xDC\x82\xBD\x82\xCD\x83\x74\x83\x48\x83\x8B\x83\x5F"
             "\x82\xF0\x82\xB1\x82\xB1\x82\xC9\x83\x68\x83\x89\x83\x62\x83\x4F\x82\xB5\x82\xC4\x82\xAD"
             "\x82\xBE\x82\xB3\x82\xA2\x81\x42", 52},
    // brinq.exeにドラッグして起動しても除去できます。
    {25, 80, "brinq.exe\x82\xC9\x83\x68\x83\x89\x83\x62\x83\x4F\x82\xB5\x82\xC4\x8B\x4E\x93\xAE\x82\xB5"
             "\x82\xC4\x82\xE0\x8F\x9C\x8B\x8E\x82\xC5\x82\xAB\x82\xDC\x82\xB7\x81\x42", 47},
};

const TextLine about_lines[2] = {
    {105, 70, "Brindlequist    ver c1.1", 24},
    {110, 95, "(C) 2026 Brindlequist authors. Pixels intact.", 45},
};

static const char result_head[] = "\x91\xCE\x8F\xDB\x89\xE6\x91\x9C\x83\x74\x83\x40\x83\x43\x83\x8B ";  // 対象画像ファイル␣
static const char result_of[] = " \x8C\xC2\x82\xCC\x82\xA4\x82\xBF ";                                 // ␣個のうち␣
static const char result_changed[] = " \x8C\xC2\x82\xA9\x82\xE7\x8F\x9C\x8B\x8E\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";  // ␣個から除去しました。
static const char result_none[] = " \x8C\xC2\x82\xCC\x92\x86\x82\xC9\x8F\x9C\x8B\x8E\x91\xCE\x8F\xDB\x83\x66"
                                  "\x81\x5B\x83\x5E\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42";  // ␣個の中に除去対象データはありません。

constexpr COLORREF body_colour = 0x303030;
constexpr COLORREF title_colour = 0x404040;
constexpr COLORREF text_colour = 0xE0E0E0;
constexpr int32_t panel_top = 40;      // the about panel's rows and columns, last ones included
constexpr int32_t panel_bottom = 141;
constexpr int32_t panel_left = 6;
constexpr int32_t panel_right = 393;

static void text_out(const TextLine& line) {
    TextOutA(canvas_dc, line.x, line.y, line.text, line.length);
}

void draw_frame() {
    fill_rect(1, 1, client_width - 1, client_height - 1, body_colour);
    fill_rect(2, 2, client_width - 2, 19, title_colour);
    SetBkMode(canvas_dc, TRANSPARENT);
    SetTextColor(canvas_dc, text_colour);
    text_out(title_line);
    build_button_table();
}

void show_instructions() {
    fill_rect(2, 21, client_width - 2, client_height - 52, body_colour);
    for (const TextLine& line : instruction_lines) text_out(line);
}

int32_t compose_result(char* line) {
    if (changed_count != 0) {
        return snprintf(line, result_line_size, "%s%d%s%d%s", result_head, target_count, result_of, changed_count,
                        result_changed);
    }
    return snprintf(line, result_line_size, "%s%d%s", result_head, target_count, result_none);
}

void show_result() {
    char line[result_line_size];
    int32_t length = compose_result(line);
    TextOutA(canvas_dc, 25, 110, line, length);
}

// Rows darken by one step every 32 lines: 0x232323 at the top down to 0x202020.
static void draw_about_panel() {
    for (int32_t y = panel_top; y <= panel_bottom; y++) {
        COLORREF g = 36 - y / 32;
        draw_line(panel_left, y, panel_right + 1, y, g | g << 8 | g << 16);
    }
}

void show_about() {
    about_shown = 1;
    draw_about_panel();
    for (const TextLine& line : about_lines) text_out(line);
    draw_emblem(30, 62);
    present();
}
