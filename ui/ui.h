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

// Pointer state of the window procedure.
extern POINT cursor_point;        // the cursor in client coordinates, taken at every message
extern int32_t press_slot;        // the button of the current left press: entry + 1, 0 for none
extern uint8_t body_drag;         // a left press on the body holds the mouse
extern uint8_t caption_drag;      // a left press in the title strip went to the system's move loop
extern uint8_t pointer_moved;     // the pointer moved during the body drag
extern uint8_t zone_entered;      // a tracked press met the body zone since the last left release
extern uint8_t restore_pending;   // the minimise button minimised the window

// The window procedure of main_window.
LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l);
// Dismisses the about screen once a press has met the body zone.
void track_pointer();
