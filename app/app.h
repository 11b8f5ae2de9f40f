// The application shell: start-up, command-line mode, window mode and its message loop.
#pragma once
#include <windows.h>
#include <cstdint>

#include "clean/clean.h"

extern char exe_dir[path_size];  // the executable's folder, ending in a backslash
extern int32_t running;          // the message loop runs while it is set
extern HWND main_window;         // the one top-level window
extern HDC window_dc;            // main_window's device context, held until teardown

// Fills exe_dir, temp_folders and temp_path from the executable's own path and the user's
// temporary folder, and zeroes the counters; false when no folder can hold the temporary file's name.
bool start_up();
// The running executable's path as the code page spells it, else its short form.
bool own_path(char* path);
// Finishes what interrupted replacements left, then cleans every argument after the program
// name in turn, without a window; an argument that the code page cannot spell goes in as its
// short path, one that has none is passed over.
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
