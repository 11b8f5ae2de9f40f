// The Canvas: fills and lines land exactly on their pixels, and present copies it whole.
#include <gtest/gtest.h>

#include "app/app.h"
#include "tests/win/screen_fixture.h"
#include "ui/ui.h"

class Canvas : public ::testing::Test {
protected:
    void SetUp() override {
        window = CreateWindowExA(0, "STATIC", "canvas", WS_POPUP | WS_VISIBLE, 0, 0, 400, 200, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        create_canvas(window);
        window_dc = GetDC(window);
    }
    void TearDown() override {
        ReleaseDC(window, window_dc);
        window_dc = nullptr;
        release_canvas();
        DestroyWindow(window);
    }
    // Pixels of the Canvas in the rectangle that differ from `colour`.
    static int count_other(int x1, int y1, int x2, int y2, COLORREF colour) {
        return ::count_other(region(x1, y1, x2, y2), colour);
    }
    HWND window = nullptr;
};

TEST_F(Canvas, IsTheClientAreaClearedTo202020) {
    EXPECT_EQ(client_width, 400);
    EXPECT_EQ(client_height, 200);
    EXPECT_EQ(count_other(0, 0, 400, 200, 0x202020), 0);
}

TEST_F(Canvas, FillRectColoursItsRectangleAndNothingElse) {
    fill_rect(2, 2, client_width - 2, 19, 0x404040);
    EXPECT_EQ(count_other(2, 2, 398, 19, 0x404040), 0);
    EXPECT_EQ(count_other(0, 0, 400, 2, 0x202020), 0);
    EXPECT_EQ(count_other(0, 19, 400, 200, 0x202020), 0);
    EXPECT_EQ(count_other(0, 2, 2, 19, 0x202020), 0);
    EXPECT_EQ(count_other(398, 2, 400, 19, 0x202020), 0);
}

TEST_F(Canvas, DrawLineLeavesItsEndPoint) {
    draw_line(6, 50, 394, 50, 0x232323);
    EXPECT_EQ(count_other(6, 50, 394, 51, 0x232323), 0);
    EXPECT_EQ(GetPixel(canvas_dc, 394, 50), COLORREF(0x202020));
    EXPECT_EQ(GetPixel(canvas_dc, 5, 50), COLORREF(0x202020));
    EXPECT_EQ(count_other(0, 49, 400, 50, 0x202020), 0);
    EXPECT_EQ(count_other(0, 51, 400, 52, 0x202020), 0);
}

TEST_F(Canvas, PresentCopiesTheWholeCanvasToTheWindow) {
    fill_rect(100, 100, 110, 110, 0x0000FF);
    present();
    EXPECT_EQ(GetPixel(window_dc, 0, 0), COLORREF(0x202020));
    EXPECT_EQ(GetPixel(window_dc, 399, 199), COLORREF(0x202020));
    EXPECT_EQ(GetPixel(window_dc, 105, 105), COLORREF(0x0000FF));
}

TEST_F(Canvas, SelectsTheShiftJisFont) {
    LOGFONTA font;
    ASSERT_NE(GetObjectA(ui_font, sizeof font, &font), 0);
    EXPECT_EQ(font.lfHeight, 12);
    EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
    EXPECT_STREQ(font.lfFaceName, "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E");  // "ＭＳ ゴシック"
    EXPECT_EQ(GetCurrentObject(canvas_dc, OBJ_FONT), ui_font);
}
