#include "tests/win/screen_fixture.h"

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "tests/core/emblem_fixture.h"

void Screen::SetUp() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = DefWindowProcA;
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
}

void Screen::TearDown() {
    close_sprite_sheet();
    ReleaseDC(window, window_dc);
    release_canvas();
    DestroyWindow(window);
}

std::vector<COLORREF> region(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    std::vector<COLORREF> pixels;
    for (int32_t y = y1; y < y2; y++)
        for (int32_t x = x1; x < x2; x++) pixels.push_back(pixel(x, y));
    return pixels;
}

std::vector<COLORREF> redrawn(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF background,
                              const std::vector<Text>& texts) {
    fill_rect(x1, y1, x2, y2, background);
    for (const Text& t : texts) TextOutA(canvas_dc, t.x, t.y, t.bytes.data(), int(t.bytes.size()));
    for (const Text& t : texts) TextOutW(canvas_dc, t.x, t.y, t.wide.data(), int(t.wide.size()));
    return region(x1, y1, x2, y2);
}

int count_other(const std::vector<COLORREF>& pixels, COLORREF background) {
    int n = 0;
    for (COLORREF c : pixels) n += c != background;
    return n;
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
    BITMAPINFOHEADER header{sizeof header, client_width, client_height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    DWORD size = ((client_width * 3 + 3) & ~3u) * client_height;
    std::vector<unsigned char> bits(size);
    GetDIBits(canvas_dc, canvas_bitmap, 0, client_height, bits.data(), reinterpret_cast<BITMAPINFO*>(&header),
              DIB_RGB_COLORS);
    DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof header;
    BITMAPFILEHEADER file{0x4D42, offset + size, 0, 0, offset};
    FILE* out = fopen((folder + "\\" + name + ".bmp").c_str(), "wb");
    if (!out) return false;
    bool written = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&header, sizeof header, 1, out) == 1
                && fwrite(bits.data(), size, 1, out) == 1;
    return fclose(out) == 0 && written;
}
