// The window procedure: drawn buttons, moving by the title strip, drops, repaints, and the
// dismissal of the about screen by a press into the body.
#include "app/app.h"
#include "batch/batch.h"
#include "ui/ui.h"

POINT cursor_point;
int32_t press_slot;
uint8_t body_drag;
uint8_t caption_drag;
uint8_t pointer_moved;
uint8_t zone_entered;
uint8_t restore_pending;

static uint8_t left_held;  // a left press in the window awaits its release

constexpr int32_t title_strip_bottom = 19;
constexpr int32_t quit_entry = 4;

static bool inside(const Button& button, POINT p) {
    return button.left < p.x && button.top < p.y && p.x < button.right && p.y < button.bottom;
}

static bool in_body_zone(POINT p) {
    return p.x >= body_zone.left && p.x < body_zone.right && p.y >= body_zone.top && p.y < body_zone.bottom;
}

// The highest entry under the cursor, or -1.
static int32_t hit_entry() {
    int32_t hit = -1;
    for (int32_t k = 0; k < button_count; k++)
        if (inside(button_table[k], cursor_point)) hit = k;
    return hit;
}

void track_pointer() {
    if (pointer_moved) return;
    if (!zone_entered) {
        if (!in_body_zone(cursor_point)) return;
        zone_entered = 1;
    }
    if (!about_shown) return;
    about_shown = 0;
    show_instructions();
}

static LRESULT left_press(HWND window, UINT message, WPARAM w, LPARAM l) {
    caption_drag = 0;
    left_held = 1;
    SetFocus(window);
    press_slot = 0;
    int32_t k = hit_entry();
    if (k >= 0) {
        press_slot = k + 1;
        if (k == quit_entry) abort_requested = 1;  // a running batch stops before the release
        button_table[k].pressed = 1;
        draw_button(k);
        present();
        SetCapture(window);
        return 0;
    }
    if (cursor_point.y <= title_strip_bottom) {
        caption_drag = 1;
        left_held = 0;  // the system's move loop takes the release
        SendMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);  // the system's move loop
        return 0;
    }
    SetCapture(window);
    body_drag = 1;
    pointer_moved = 0;
    track_pointer();
    return DefWindowProcA(window, message, w, l);
}

// Close lets a running batch and the drops waiting behind it end; quit stops after the file in hand.
static void click(HWND window, int32_t k) {
    if (k == 0 || k == quit_entry) running = 0;
    if (k == quit_entry) quit_requested = 1;
    if (k == 1) {
        ShowWindow(window, SW_MINIMIZE);
        restore_pending = 1;
    }
    button_table[k].pressed = 0;
    draw_button(k);
    if (k == 2 && !about_shown) show_about();
}

static LRESULT left_release(HWND window, UINT message, WPARAM w, LPARAM l) {
    body_drag = 0;
    zone_entered = 0;
    if (restore_pending) {
        ShowWindow(window, SW_SHOWNORMAL);
        restore_pending = 0;
    }
    if (caption_drag) {
        caption_drag = 0;
        return 0;
    }
    ReleaseCapture();
    // A release whose press was made outside the window acts on nothing.
    bool pressed_here = left_held;
    left_held = 0;
    if (press_slot == 0 || !pressed_here) {
        present();
        return DefWindowProcA(window, message, w, l);
    }
    int32_t k = press_slot - 1;
    press_slot = k;
    if (inside(button_table[k], cursor_point)) click(window, k);
    button_table[k].pressed = 0;
    draw_buttons();
    present();
    return DefWindowProcA(window, message, w, l);
}

// Alt+F4 and the task bar's close act as the close button: the default handling would destroy
// the window under a running batch, which goes on drawing into it. The teardown destroys it.
static void close_from_system(HWND window) {
    running = 0;
    PostMessageA(window, WM_NULL, 0, 0);  // a close sent from another thread leaves GetMessageA waiting
}

// A logoff or a shutdown stops a batch as quit does once the session really ends: asked
// first, the window lets it go ahead, and a logoff called off then never stops anything.
static void end_session() {
    quit_requested = 1;
    running = 0;
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    GetCursorPos(&cursor_point);
    ScreenToClient(window, &cursor_point);
    switch (message) {
    case WM_CREATE:
        DragAcceptFiles(window, TRUE);
        break;
    case WM_CLOSE:
        close_from_system(window);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (w) end_session();
        return 0;
    case WM_DESTROY:
        running = 0;
        break;
    case WM_PAINT:
        present();
        break;
    case WM_ERASEBKGND:
        return 0;  // the Canvas covers every pixel
    case WM_MOUSEMOVE:
        if (body_drag && !caption_drag) {
            pointer_moved = 1;
            track_pointer();
        }
        break;
    case WM_LBUTTONDOWN:
        return left_press(window, message, w, l);
    case WM_LBUTTONUP:
        return left_release(window, message, w, l);
    case WM_RBUTTONDOWN:
        if (!body_drag && !caption_drag) track_pointer();
        break;
    case WM_DROPFILES:
        process_drop(window, reinterpret_cast<HDROP>(w));
        break;
    }
    return DefWindowProcA(window, message, w, l);
}
