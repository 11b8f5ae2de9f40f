// The window's presentation: the off-screen Canvas and its drawing primitives.
#pragma once
#include <windows.h>
#include <cstdint>

extern HDC canvas_dc;          // memory device context of the Canvas; null without a window
extern HBITMAP canvas_bitmap;  // the client-sized bitmap selected into canvas_dc
extern HFONT ui_font;          // the Shift-JIS font every text is drawn in
extern int32_t client_width;   // the Canvas's size: the client area's right edge
extern int32_t client_height;  // and its bottom edge

// Creates the Canvas for the window, cleared to 0x202020, with ui_font selected.
void create_canvas(HWND window);
// Fills x1 <= x < x2, y1 <= y < y2.
void fill_rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF colour);
// A one-pixel line from (x1, y1) towards (x2, y2), the end point not drawn.
void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF colour);
// Copies the whole Canvas to the window.
void present();
// Frees the font, the Canvas device context and its bitmap.
void release_canvas();
