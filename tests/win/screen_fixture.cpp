#include "tests/win/screen_fixture.h"

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "tests/core/emblem_fixture.h"

static LRESULT CALLBACK plain_window(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcA(window, message, w, l);
}

void Screen::SetUp() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = plain_window;
    window_class.hInstance = instance;
    window_class.lpszClassName = "brinq_screen_test";
    RegisterClassA(&window_class);
    window = CreateWindowExA(0, "brinq_screen_test", "brinq", WS_POPUP, 0, 0, 400, 200, nullptr, nullptr,
                             instance, nullptr);
    ASSERT_NE(window, nullptr);
    create_canvas(window);
    window_dc = GetDC(window);
    open_sprite_sheet(instance, window_dc);
    memset(button_table, 0, sizeof button_table);
    about_shown = 0;
    ASSERT_EQ(client_width, 400);
    ASSERT_EQ(client_height, 200);
}

void Screen::TearDown() {
    close_sprite_sheet();
    ReleaseDC(window, window_dc);
    release_canvas();
    DestroyWindow(window);
}

COLORREF pixel(int32_t x, int32_t y) { return GetPixel(canvas_dc, x, y); }

std::vector<COLORREF> region(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    std::vector<COLORREF> pixels;
    for (int32_t y = y1; y < y2; y++)
        for (int32_t x = x1; x < x2; x++) pixels.push_back(pixel(x, y));
    return pixels;
}

int count_colour(const std::vector<COLORREF>& pixels, COLORREF colour) {
    int n = 0;
    for (COLORREF c : pixels) n += c == colour;
    return n;
}

int count_other(const std::vector<COLORREF>& pixels, COLORREF background) {
    return int(pixels.size()) - count_colour(pixels, background);
}

std::string sjis(const char* utf8) {
    wchar_t wide[300];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 300);
    char bytes[600];
    int length = WideCharToMultiByte(932, 0, wide, n, bytes, sizeof bytes, nullptr, nullptr);
    return length > 0 ? std::string(bytes, length - 1) : std::string();
}

bool save_screenshot(const char* name) {
    std::string folder = host_path(SCREENSHOT_DIR);
    CreateDirectoryA(folder.c_str(), nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = client_width;
    info.bmiHeader.biHeight = client_height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP copy = CreateDIBSection(canvas_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC copy_dc = CreateCompatibleDC(canvas_dc);
    HGDIOBJ displaced = SelectObject(copy_dc, copy);
    BitBlt(copy_dc, 0, 0, client_width, client_height, canvas_dc, 0, 0, SRCCOPY);
    GdiFlush();
    DWORD stride = (client_width * 3 + 3) & ~3u;
    DWORD size = stride * client_height;
    BITMAPFILEHEADER file{0x4D42, DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                          DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
    std::string path = folder + "\\" + name;
    FILE* out = fopen(path.c_str(), "wb");
    bool written = out && fwrite(&file, sizeof file, 1, out) == 1 &&
                   fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 && fwrite(bits, size, 1, out) == 1;
    if (out) written = fclose(out) == 0 && written;
    SelectObject(copy_dc, displaced);
    DeleteDC(copy_dc);
    DeleteObject(copy);
    return written;
}
