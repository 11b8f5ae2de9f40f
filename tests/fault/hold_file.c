// Holds a file open, as another program would: opens FILE, creates READY, waits for STOP. With
// "alone", no other program may even read it meanwhile.
//   hold_file.exe FILE READY STOP [alone]
#include <windows.h>

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    DWORD share = argc > 4 && lstrcmpA(argv[4], "alone") == 0 ? 0 : FILE_SHARE_READ;
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    for (int i = 0; i < 1200 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; i++) Sleep(50);
    CloseHandle(held);
    return 0;
}
