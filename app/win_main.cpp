// The entry: command-line mode with arguments, window mode without.
#include "app/app.h"

#include <cstdlib>

// The wide entry, so that the run-time library's argument vector keeps every letter that the
// ANSI one would lose to the code page. Before anything loads a library, the search is narrowed
// to System32: a DLL placed beside the program (a Downloads folder, a shared folder, a stick)
// never runs inside it.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show_state) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!start_up()) return 0;
    if (__argc >= 2) run_command_line(__argc, __wargv);
    else run_window_mode(instance, show_state);
    return 0;
}
