// Window mode: the borderless 400 x 200 window, its first screen, and the message loop.
#include "app/app.h"
#include "replace/replace.h"
#include "ui/ui.h"

static const char class_name[] = "XXXRES";
constexpr int window_width = 400;
constexpr int window_height = 200;

static ATOM registered_class;  // this run's class; 0 when the name was taken or never registered

static bool register_class(HINSTANCE instance) {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, class_name);
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    window_class.lpszClassName = class_name;
    window_class.hIconSm = LoadIconA(instance, class_name);
    registered_class = RegisterClassExA(&window_class);
    return registered_class != 0;
}

// Centred in the work area; its own left and top are deliberately not added.
POINT window_position(const RECT& area) {
    return {(area.right - area.left) / 2 - window_width / 2, (area.bottom - area.top) / 2 - window_height / 2};
}

// The class icon, drawn at 32 x 32 where nothing shows yet, shrunk into the title bar at
// (5, 2), and the spot painted over again with the background from (30, 30).
static void draw_title_icon(HINSTANCE instance) {
    HICON icon = LoadIconA(instance, class_name);
    DrawIconEx(canvas_dc, 80, 80, icon, 32, 32, 0, nullptr, DI_NORMAL);
    SetStretchBltMode(canvas_dc, HALFTONE);
    StretchBlt(canvas_dc, 5, 2, 16, 16, canvas_dc, 80, 80, 32, 32, SRCCOPY);
    SetStretchBltMode(canvas_dc, COLORONCOLOR);
    BitBlt(canvas_dc, 80, 80, 32, 32, canvas_dc, 30, 30, SRCCOPY);
}

// The screen stands in for a work area that cannot be read, so that the position is defined.
static RECT work_area() {
    RECT area;
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return area;
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

static void pump_one() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

bool open_window(HINSTANCE instance, int show_state) {
    if (!register_class(instance)) return false;
    POINT at = window_position(work_area());
    main_window = CreateWindowExA(0, class_name, "brinq", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, at.x, at.y,
                                  window_width, window_height, nullptr, nullptr, instance, nullptr);
    if (!main_window) return false;
    pump_one();
    create_canvas(main_window);
    window_dc = GetDC(main_window);
    if (!canvas_dc || !canvas_bitmap || !window_dc || !open_sprite_sheet(instance, window_dc)) return false;
    draw_frame();
    draw_title_icon(instance);
    show_instructions();
    draw_buttons();
    ShowWindow(main_window, show_state);
    InvalidateRect(main_window, nullptr, TRUE);
    SetFocus(main_window);
    running = 1;
    return true;
}

void close_window(HINSTANCE instance) {
    close_sprite_sheet();
    if (window_dc) ReleaseDC(main_window, window_dc);
    window_dc = nullptr;
    release_canvas();
    if (main_window) DestroyWindow(main_window);
    main_window = nullptr;
    running = 0;
    if (registered_class) UnregisterClassA(MAKEINTATOM(registered_class), instance);
    registered_class = 0;
}

// Only running ends the loop: a WM_QUIT is neither dispatched nor a reason to stop.
static void run_message_loop() {
    MSG message;
    while (running) {
        if (GetMessageA(&message, nullptr, 0, 0) == 0) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Finishing an interrupted write of a large file takes a while: the window is up first, and
// answers meanwhile as it does while a file is in hand.
void run_window_mode(HINSTANCE instance, int show_state) {
    if (open_window(instance, show_state)) {
        UpdateWindow(main_window);
        finish_pending_if_free();
        run_message_loop();
    }
    close_window(instance);
}
