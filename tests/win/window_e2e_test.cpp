// brinq.exe started without arguments: its window, centred, with the icon in the title bar,
// ending on a click on close.
#include <gtest/gtest.h>

#include "app/app.h"
#include "tests/win/win_fixture.h"

namespace fs = std::filesystem;

static HWND wait_for_window(DWORD process_id) {
    for (int i = 0; i < 200; i++) {
        HWND window = FindWindowA("XXXRES", "brinq");
        DWORD owner = 0;
        if (window) GetWindowThreadProcessId(window, &owner);
        if (window && owner == process_id && IsWindowVisible(window)) return window;
        Sleep(50);
    }
    return nullptr;
}

static void click_screen(int x, int y) {
    SetCursorPos(x, y);
    INPUT press[2] = {};
    press[0].type = press[1].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &press[0], sizeof(INPUT));
    Sleep(100);
    SendInput(1, &press[1], sizeof(INPUT));
}

TEST(RealWindow, ShowsCentredWithItsIconAndEndsOnClose) {
    fs::path folder = scratch_folder();
    PROCESS_INFORMATION process = start_brinq(folder, {});
    ASSERT_NE(process.hProcess, nullptr);
    HWND window = wait_for_window(process.dwProcessId);
    ASSERT_NE(window, nullptr);

    RECT area, placed;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window, &placed);
    POINT expected = window_position(area);
    EXPECT_EQ(placed.left, expected.x);
    EXPECT_EQ(placed.top, expected.y);
    EXPECT_EQ(placed.right - placed.left, 400);
    EXPECT_EQ(placed.bottom - placed.top, 200);

    Sleep(300);  // let the first paint reach the screen
    HDC screen = GetDC(nullptr);
    int icon_pixels = 0;
    for (int y = 2; y < 18; y++)
        for (int x = 5; x < 21; x++)
            if (GetPixel(screen, placed.left + x, placed.top + y) != 0x404040) icon_pixels++;
    EXPECT_GT(icon_pixels, 16);
    // Where the icon was drawn at full size first, the body shows again.
    EXPECT_EQ(GetPixel(screen, placed.left + 96, placed.top + 96), COLORREF(0x303030));
    ReleaseDC(nullptr, screen);

    click_screen(placed.left + 387, placed.top + 10);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    fs::remove_all(folder);
}

// The about screen reads its Emblem back from the running executable, named here by a folder
// that the code page spells with question marks.
TEST(RealWindow, ShowsTheEmblemFromAProgramFolderNamedInAnotherScript) {
    fs::path folder = scratch_folder() / L"\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b";  // Программы
    fs::create_directories(folder);
    PROCESS_INFORMATION process = start_brinq_wide(folder, {});
    ASSERT_NE(process.hProcess, nullptr);
    HWND window = wait_for_window(process.dwProcessId);
    ASSERT_NE(window, nullptr);
    RECT placed;
    GetWindowRect(window, &placed);
    Sleep(300);
    click_screen(placed.left + 330, placed.top + 10);  // "ver"
    Sleep(500);
    HDC screen = GetDC(nullptr);
    int lit = 0;  // the Emblem is laid on in white over the panel's dark greys
    for (int y = 63; y <= 112; y++)
        for (int x = 30; x < 90; x++) lit += GetRValue(GetPixel(screen, placed.left + x, placed.top + y)) > 0x60;
    ReleaseDC(nullptr, screen);
    EXPECT_GT(lit, 100);
    click_screen(placed.left + 387, placed.top + 10);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    fs::remove_all(folder.parent_path());
}
