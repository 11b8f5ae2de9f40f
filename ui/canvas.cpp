// The Canvas: every pixel is drawn off-screen first and reaches the window in one blit.
#include "ui/ui.h"
#include "app/app.h"

HDC canvas_dc;
HBITMAP canvas_bitmap;
HFONT ui_font;
int32_t client_width = 400;
int32_t client_height = 200;

static HGDIOBJ previous_font;  // what canvas_dc held before ui_font

// "ＭＳ ゴシック" in Shift-JIS.
static const char font_face[] = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";

void create_canvas(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    client_width = client.right;
    client_height = client.bottom;
    HDC dc = GetDC(window);
    canvas_bitmap = CreateCompatibleBitmap(dc, client_width, client_height);
    canvas_dc = CreateCompatibleDC(dc);
    SelectObject(canvas_dc, canvas_bitmap);
    fill_rect(0, 0, client_width, client_height, 0x202020);
    ReleaseDC(window, dc);
    ui_font = CreateFontA(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, FF_MODERN, font_face);
    previous_font = SelectObject(canvas_dc, ui_font);
}

void fill_rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ displaced = SelectObject(canvas_dc, brush);
    PatBlt(canvas_dc, x1, y1, x2 - x1, y2 - y1, PATCOPY);
    SelectObject(canvas_dc, displaced);
    DeleteObject(brush);
}

void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF colour) {
    HPEN pen = CreatePen(PS_SOLID, 0, colour);
    HGDIOBJ displaced = SelectObject(canvas_dc, pen);
    MoveToEx(canvas_dc, x1, y1, nullptr);
    LineTo(canvas_dc, x2, y2);
    SelectObject(canvas_dc, displaced);
    DeleteObject(pen);
}

void present() {
    BitBlt(window_dc, 0, 0, client_width, client_height, canvas_dc, 0, 0, SRCCOPY);
}

// Each part on its own: a failed create_canvas may have made some of them.
void release_canvas() {
    if (canvas_dc) {
        SelectObject(canvas_dc, previous_font);
        DeleteDC(canvas_dc);
    }
    if (ui_font) DeleteObject(ui_font);
    if (canvas_bitmap) DeleteObject(canvas_bitmap);
    canvas_dc = nullptr;
    canvas_bitmap = nullptr;
    ui_font = nullptr;
}
