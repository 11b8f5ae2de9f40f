// Window mode: not yet built; without arguments the program ends at once.
#include "app/app.h"

void run_window_mode(HINSTANCE, int) {}
