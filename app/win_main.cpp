// The entry: command-line mode with arguments, window mode without.
#include "app/app.h"

#include <cstdlib>

// The wide entry, so that the run-time library's argument vector keeps every letter that the
// ANSI one would lose to the code page.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show_state) {
    if (!start_up()) return 0;
    if (__argc >= 2) run_command_line(__argc, __wargv);
    else run_window_mode(instance, show_state);
    return 0;
}
