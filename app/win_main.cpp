// The entry: command-line mode with arguments, window mode without.
#include "app/app.h"

#include <cstdlib>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_state) {
    if (!start_up()) return 0;
    if (__argc >= 2) run_command_line(__argc, __argv);
    else run_window_mode(instance, show_state);
    return 0;
}
