// The entry: command-line mode with arguments, window mode without.
#include "app/app.h"

#include <shellapi.h>

// The arguments as the system passed them: the run-time library's ANSI ones have lost every
// letter the code page lacks.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_state) {
    if (!start_up()) return 0;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 0;
    if (argc >= 2) run_command_line(argc, argv);
    else run_window_mode(instance, show_state);
    LocalFree(argv);
    return 0;
}
