// The application shell: start-up, command-line mode, window mode and its message loop.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

extern std::wstring exe_dir;  // the executable's folder, ending in a backslash
extern int32_t running;       // the message loop runs while it is set
extern HWND main_window;      // the one top-level window
extern HDC window_dc;         // main_window's device context, held until teardown

// Fills exe_dir, the temporary file's folders and the key's folder from the executable's own
// path and the user's profile, and zeroes the counters; false when no folder can hold the
// temporary file.
bool start_up();
// The running executable's full path; empty when the system does not give it.
std::wstring own_path();
// Finishes what interrupted replacements left, then cleans every argument after the program
// name in turn, without a window.
void run_command_line(int argc, wchar_t** argv);
// Shows the window with its first screen, finishes what interrupted replacements left, and
// runs the message loop until running is cleared.
void run_window_mode(HINSTANCE instance, int show_state);
// The window up to its message loop, and its teardown in reverse order; open_window is false
// when the window or its drawing could not be made, and close_window then frees what was.
bool open_window(HINSTANCE instance, int show_state);
void close_window(HINSTANCE instance);
// Where the window goes in a work area: centred, measured from the screen's left and top.
POINT window_position(const RECT& area);
