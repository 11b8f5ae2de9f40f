// Holds a file open, as another program would: opens FILE, creates READY, waits for STOP.
//   hold_file.exe FILE READY STOP
#include <windows.h>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    for (int i = 0; i < 1200 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; i++) Sleep(50);
    CloseHandle(held);
    return 0;
}
