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

// One drawn button. Entries 0 to 2 are copied from the sprite sheet, 3 and 4 are painted.
struct Button {
    uint8_t pressed;         // a left press holds this entry
    int32_t lit;             // painted entries take look1 as their face; nothing sets it
    char label[20];          // Shift-JIS, NUL-ended; only painted entries draw it
    int32_t left;            // 0: the entry is not in use and never drawn
    int32_t top;
    int32_t right;           // right and bottom edges excluded
    int32_t bottom;
    int32_t erased;          // drawn as a plain 0x202020 rectangle; nothing sets it
    int32_t look0;           // sprite: x of the cell in the sheet; painted: face colour
    int32_t look1;           // sprite: y of the cell's normal row; painted: alternate face colour
    COLORREF frame_colour;   // painted: the one-pixel outer frame
};

enum { button_count = 5 };
extern Button button_table[button_count];  // close, minimise, about, not in use, quit
extern RECT body_zone;                     // a press here dismisses the about screen; right and bottom excluded
extern uint8_t about_shown;                // the about screen is on the Canvas
extern HBITMAP sprite_bitmap;              // the sheet "XXXRES_r0": normal cells on top, pressed below

// Loads the sprite sheet "XXXRES_r0" into a memory device context of its own; false on failure.
bool open_sprite_sheet(HINSTANCE instance, HDC window_dc);
void close_sprite_sheet();
// Fills the table and body_zone for a window client_width wide; pressed and lit stay as they are.
void build_button_table();
// Draws one entry in its current look, without presenting.
void draw_button(int index);
// Draws every entry in use, in table order.
void draw_buttons();
// Each 8-bit channel of c times f, truncated.
COLORREF scale_colour(COLORREF c, double f);

// A fixed line of text: where TextOutA puts it and its Shift-JIS bytes.
struct TextLine {
    int32_t x;
    int32_t y;
    const char* text;
    int32_t length;  // bytes given to TextOutA
};

extern const TextLine title_line;
extern const TextLine instruction_lines[3];
extern const TextLine about_lines[2];

// Body, title bar and title, the text state of the Canvas, then the button table.
void draw_frame();
// Clears the message band and draws the three instruction lines.
void show_instructions();
constexpr int result_line_size = 260;  // bytes for the result line, the two counts at their widest
// Writes the result line of the last batch into line (result_line_size bytes); its length.
int32_t compose_result(char* line);
// Draws the result line under the instructions.
void show_result();
// The about screen with the Emblem, presented.
void show_about();

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
