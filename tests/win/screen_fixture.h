// A real 400 x 200 window with its Canvas and sprite sheet, for tests that read pixels back.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ui.h"

class Screen : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    HWND window = nullptr;
};

inline COLORREF pixel(int32_t x, int32_t y) { return GetPixel(canvas_dc, x, y); }
inline COLORREF grey(uint32_t g) { return g | g << 8 | g << 16; }
// The Canvas pixels of (x1, y1)-(x2, y2), row by row.
std::vector<COLORREF> region(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// (x1, y1)-(x2, y2) as it should look: the background, then each text put there by hand. It
// draws on the Canvas: take what the code under test drew first.
struct Text { int32_t x, y; std::string bytes; std::wstring wide = {}; };  // bytes by TextOutA, wide by TextOutW
std::vector<COLORREF> redrawn(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF background,
                              const std::vector<Text>& texts);
// How many pixels differ from the background: text strokes, smoothed or not.
int count_other(const std::vector<COLORREF>& pixels, COLORREF background);
// UTF-8 text in code page 932, converted by the system rather than by the code under test.
std::string sjis(const char* utf8);
// Saves the Canvas as SCREENSHOT_DIR/name.bmp; scripts/make_screenshots.sh makes PNGs of them.
bool save_screenshot(const char* name);
