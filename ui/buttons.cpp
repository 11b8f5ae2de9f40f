// The drawn buttons: three sprite buttons in the title strip and the painted quit button.
#include "ui/ui.h"

#include <cstring>

Button button_table[button_count];
RECT body_zone;

HBITMAP sprite_bitmap;
static HDC sprite_dc;               // holds sprite_bitmap for the whole window-mode run
static HGDIOBJ displaced_bitmap;    // what sprite_dc held before the sheet

constexpr int first_painted = 3;    // entries before this one are sprite entries
constexpr UINT label_format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP;

bool open_sprite_sheet(HINSTANCE instance, HDC window_dc) {
    sprite_bitmap = LoadBitmapA(instance, "XXXRES_r0");
    sprite_dc = CreateCompatibleDC(window_dc);
    displaced_bitmap = SelectObject(sprite_dc, sprite_bitmap);
    return sprite_bitmap && sprite_dc;
}

// The bitmap and its device context each on their own: a failed open may have made only one.
void close_sprite_sheet() {
    if (sprite_dc) {
        SelectObject(sprite_dc, displaced_bitmap);
        DeleteDC(sprite_dc);
    }
    if (sprite_bitmap) DeleteObject(sprite_bitmap);
    sprite_dc = nullptr;
    sprite_bitmap = nullptr;
}

static void set_entry(int index, const char* label, int32_t left, int32_t top, int32_t right,
                      int32_t bottom, int32_t look0, int32_t look1) {
    Button& b = button_table[index];
    strncpy(b.label, label, sizeof b.label - 1);
    b.left = left;
    b.top = top;
    b.right = right;
    b.bottom = bottom;
    b.erased = 0;
    b.look0 = look0;
    b.look1 = look1;
    b.frame_colour = 0;
}

void build_button_table() {
    const int32_t w = client_width;
    set_entry(0, "\x81\x7E", w - 20, 3, w - 5, 17, 0, 0);   // × close
    set_entry(1, "_", w - 40, 3, w - 25, 17, 15, 0);        // minimise
    set_entry(2, "ver", w - 84, 3, w - 57, 17, 30, 0);      // about
    set_entry(3, "x", 0, 150, 80, 182, 0x806060, 0x606060); // not in use: left 0
    set_entry(4, "\x8F\x49\x97\xB9", 300, 150, 380, 182, 0x606060, 0xA0A0A0);  // 終了 quit
    body_zone = {20, 40, 1020, 840};
}

COLORREF scale_colour(COLORREF c, double f) {
    COLORREF scaled = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        auto channel = static_cast<COLORREF>(((c >> shift) & 0xFF) * f);
        scaled |= channel << shift;
    }
    return scaled;
}

// The pressed cell lies one cell height below the normal one.
static void draw_sprite(const Button& b) {
    int32_t height = b.bottom - b.top;
    int32_t y = b.pressed ? b.look1 + height : b.look1;
    BitBlt(canvas_dc, b.left, b.top, b.right - b.left, height, sprite_dc, b.look0, y, SRCCOPY);
}

// The graded face: an upper band brightening from 0.7 towards 1.0 and a lower band staying
// near 0.7, drawn one pixel right and down when pressed.
static void draw_bands(const Button& b, COLORREF face, int32_t m) {
    int32_t shift = b.pressed ? 1 : 0;
    int32_t left = b.left + 1 + shift;
    int32_t right = b.right - 2 + shift;
    for (int32_t i = 0; i < m - 1; i++) {
        double f = (i * 0.3) / m + 0.7;
        int32_t y = b.top + 1 + i + shift;
        fill_rect(left, y, right, y + 1, scale_colour(face, f));
    }
    for (int32_t i = 0; i < m - 2; i++) {
        double f = (i * 0.1) / m + 0.7;
        int32_t y = b.top + m + i + shift;
        fill_rect(left, y, right, y + 1, scale_colour(face, f));
    }
}

// Black shadow first, then the light label two pixels up and left of it.
static void draw_label(const Button& b, int32_t inset) {
    RECT shadow = {b.left + inset + 2, b.top + inset + 2, b.right, b.bottom};
    RECT label = {b.left + inset, b.top + inset, b.right, b.bottom};
    SetTextColor(canvas_dc, 0x000000);
    DrawTextA(canvas_dc, b.label, -1, &shadow, label_format);
    SetTextColor(canvas_dc, 0xE0E0E0);
    DrawTextA(canvas_dc, b.label, -1, &label, label_format);
}

static void draw_painted(const Button& b) {
    fill_rect(b.left, b.top, b.right, b.bottom, b.frame_colour);
    COLORREF face = b.lit ? b.look1 : b.look0;
    int32_t m = (b.bottom - b.top) / 2;
    fill_rect(b.left + 1, b.top + 1, b.right - 1, b.bottom - 1, scale_colour(face, b.pressed ? 0.2 : 0.5));
    draw_bands(b, face, m);
    if (!b.pressed) {
        COLORREF highlight = scale_colour(face, 0.9);
        fill_rect(b.left + 1, b.top + 1, b.right - 2, b.top + 2, highlight);
        fill_rect(b.left + 1, b.top + 1, b.left + 2, b.bottom - 1, highlight);
    }
    draw_label(b, b.pressed ? 2 : 0);
}

void draw_button(int index) {
    const Button& b = button_table[index];
    if (b.left == 0) return;
    if (b.erased) {
        fill_rect(b.left, b.top, b.right, b.bottom, 0x202020);
        return;
    }
    if (index < first_painted) draw_sprite(b);
    else draw_painted(b);
}

void draw_buttons() {
    for (int i = 0; i < button_count; i++) {
        if (button_table[i].left != 0) draw_button(i);
    }
}
