// The button panel: the table, the sprite cells, the painted quit button in both looks.
#include "tests/win/screen_fixture.h"

#include <algorithm>
#include <cstring>

TEST(Buttons, ScaleColour) {
    EXPECT_EQ(scale_colour(0x606060, 0.5), 0x303030u);
    EXPECT_EQ(scale_colour(0x606060, 0.2), 0x131313u);
    EXPECT_EQ(scale_colour(0x0A141E, 0.7), 0x070E15u);  // each channel on its own, truncated
    EXPECT_EQ(scale_colour(0xFF606060, 1.0), 0x606060u);
}

TEST_F(Screen, TableAfterTheFrame) {
    button_table[2].pressed = 1;
    draw_frame();
    struct Row { const char* label; int32_t left, top, right, bottom, look0, look1; };
    const Row rows[5] = {
        {"\x81\x7E", 380, 3, 395, 17, 0, 0},          // ×
        {"_", 360, 3, 375, 17, 15, 0},
        {"ver", 316, 3, 343, 17, 30, 0},
        {"x", 0, 150, 80, 182, 0x806060, 0x606060},
        {"\x8F\x49\x97\xB9", 300, 150, 380, 182, 0x606060, 0xA0A0A0},  // 終了
    };
    for (int i = 0; i < 5; i++) {
        const Button& b = button_table[i];
        EXPECT_STREQ(b.label, rows[i].label) << i;
        EXPECT_EQ(b.left, rows[i].left) << i;
        EXPECT_EQ(b.top, rows[i].top) << i;
        EXPECT_EQ(b.right, rows[i].right) << i;
        EXPECT_EQ(b.bottom, rows[i].bottom) << i;
        EXPECT_EQ(b.look0, rows[i].look0) << i;
        EXPECT_EQ(b.look1, rows[i].look1) << i;
        EXPECT_EQ(b.frame_colour, 0u) << i;
        EXPECT_EQ(b.erased, 0) << i;
        EXPECT_EQ(b.lit, 0) << i;
    }
    EXPECT_EQ(button_table[2].pressed, 1) << "pressed is left as it was";
    EXPECT_EQ(body_zone.left, 20);
    EXPECT_EQ(body_zone.top, 40);
    EXPECT_EQ(body_zone.right, 1020);
    EXPECT_EQ(body_zone.bottom, 840);
}

TEST_F(Screen, EntryThreeIsNeverDrawn) {
    draw_frame();
    fill_rect(0, 140, 100, 190, 0x123456);
    std::vector<COLORREF> before = region(0, 140, 100, 190);
    draw_button(3);
    EXPECT_EQ(region(0, 140, 100, 190), before);
    draw_buttons();
    EXPECT_EQ(region(0, 140, 100, 190), before);
    EXPECT_NE(pixel(300, 150), 0x303030u) << "draw_buttons drew the quit button";
}

// The sheet's cell as it should look: border, corners, face; glyph pixels are collected.
static void expect_cell(const Button& b, COLORREF border, COLORREF face, std::vector<POINT>* glyph) {
    for (int32_t y = b.top; y < b.bottom; y++) {
        for (int32_t x = b.left; x < b.right; x++) {
            bool edge_x = x == b.left || x == b.right - 1, edge_y = y == b.top || y == b.bottom - 1;
            COLORREF c = pixel(x, y);
            if (edge_x && edge_y) EXPECT_EQ(c, 0x404040u) << x << "," << y;
            else if (edge_x || edge_y) EXPECT_EQ(c, border) << x << "," << y;
            else if (c != face) {
                EXPECT_TRUE(c == 0xD0D0D0 || c == 0x989898) << std::hex << c << " at " << std::dec << x << "," << y;
                glyph->push_back({x, y});
            }
        }
    }
}

TEST_F(Screen, SpriteButtonsNormalAndPressed) {
    draw_frame();
    draw_buttons();
    std::vector<POINT> normal[3], pressed[3];
    for (int i = 0; i < 3; i++) expect_cell(button_table[i], 0x606060, 0x505050, &normal[i]);
    EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
    for (int i = 0; i < 3; i++) {
        button_table[i].pressed = 1;
        draw_button(i);
        EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
        expect_cell(button_table[i], 0x303030, 0x202020, &pressed[i]);
        ASSERT_EQ(normal[i].size(), pressed[i].size()) << "same glyph in both looks, entry " << i;
        for (size_t k = 0; k < normal[i].size(); k++) {
            EXPECT_EQ(normal[i][k].x, pressed[i][k].x);
            EXPECT_EQ(normal[i][k].y, pressed[i][k].y);
        }
        button_table[i].pressed = 0;
        draw_button(i);
        std::vector<POINT> again;
        expect_cell(button_table[i], 0x606060, 0x505050, &again);
        EXPECT_EQ(again.size(), normal[i].size());
    }
    // The glyphs: a cross centred in its cell, a bar near the bottom, three letters.
    EXPECT_EQ(pixel(380 + 7, 3 + 6), 0xD0D0D0u);
    EXPECT_EQ(pixel(380 + 4, 3 + 3), 0xD0D0D0u);
    EXPECT_EQ(pixel(380 + 10, 3 + 9), 0xD0D0D0u);
    EXPECT_EQ(normal[1].size(), 14u);
    for (const POINT& p : normal[1]) EXPECT_GE(p.y, 3 + 9);
    EXPECT_GT(normal[2].size(), 30u);
    EXPECT_GT(count_colour(region(316, 3, 343, 17), 0x989898), 0) << "the letters' softened joins";
}

// The quit button: frame, 0.5 inner fill, two graded bands row by row, 0.9 highlight.
// Columns 302 to 320 and 358 to 377 lie clear of the centred label.
static const int32_t clear_columns[] = {302, 310, 320, 358, 370, 377};

static COLORREF face_times(double f) { uint32_t g = uint32_t(0x60 * f); return g | g << 8 | g << 16; }

static void expect_frame() {
    for (int32_t x = 300; x < 380; x++) {
        EXPECT_EQ(pixel(x, 150), 0u);
        EXPECT_EQ(pixel(x, 181), 0u);
    }
    for (int32_t y = 150; y < 182; y++) {
        EXPECT_EQ(pixel(300, y), 0u);
        EXPECT_EQ(pixel(379, y), 0u);
    }
}

TEST_F(Screen, QuitButtonNormal) {
    draw_frame();
    draw_button(4);
    EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
    expect_frame();
    for (int32_t y = 151; y <= 180; y++) EXPECT_EQ(pixel(378, y), 0x303030u) << "inner fill, right";
    for (int32_t x = 302; x <= 378; x++) EXPECT_EQ(pixel(x, 180), 0x303030u) << "inner fill, bottom";
    for (int32_t x = 301; x <= 377; x++) EXPECT_EQ(pixel(x, 151), 0x565656u) << "highlight, top";
    for (int32_t y = 151; y <= 180; y++) EXPECT_EQ(pixel(301, y), 0x565656u) << "highlight, left";
    for (int32_t x : clear_columns) {
        for (int i = 1; i < 15; i++) EXPECT_EQ(pixel(x, 151 + i), face_times(i * 0.3 / 16 + 0.7)) << "upper " << i;
        for (int i = 0; i < 14; i++) EXPECT_EQ(pixel(x, 166 + i), face_times(i * 0.1 / 16 + 0.7)) << "lower " << i;
    }
    // the worked values at the bands' ends
    EXPECT_EQ(pixel(310, 152), face_times(0.3 / 16 + 0.7));
    EXPECT_EQ(pixel(310, 165), 0x5C5C5Cu);
    EXPECT_EQ(pixel(310, 166), 0x434343u);
    EXPECT_EQ(pixel(310, 179), 0x4B4B4Bu);
}

TEST_F(Screen, QuitButtonPressed) {
    draw_frame();
    button_table[4].pressed = 1;
    draw_button(4);
    EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
    expect_frame();
    for (int32_t x = 301; x <= 378; x++) EXPECT_EQ(pixel(x, 151), 0x131313u) << "inner fill, top";
    for (int32_t y = 151; y <= 180; y++) EXPECT_EQ(pixel(301, y), 0x131313u) << "inner fill, left";
    for (int32_t x : clear_columns) {
        for (int i = 0; i < 15; i++) EXPECT_EQ(pixel(x + 1, 152 + i), face_times(i * 0.3 / 16 + 0.7)) << "upper " << i;
        for (int i = 0; i < 14; i++) EXPECT_EQ(pixel(x + 1, 167 + i), face_times(i * 0.1 / 16 + 0.7)) << "lower " << i;
    }
    EXPECT_EQ(pixel(310, 152), 0x434343u);
    EXPECT_EQ(pixel(310, 166), 0x5C5C5Cu);
    EXPECT_EQ(pixel(310, 167), 0x434343u);
    EXPECT_EQ(pixel(310, 180), 0x4B4B4Bu);
}

// The button as it should look with its label: drawn without a label, then the black shadow
// and the light label put into the expected rectangles by hand.
static std::vector<COLORREF> expected_label(RECT shadow, RECT light) {
    Button& quit = button_table[4];
    char label[sizeof quit.label];
    memcpy(label, quit.label, sizeof label);
    quit.label[0] = 0;
    draw_button(4);
    memcpy(quit.label, label, sizeof label);
    const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP;
    SetTextColor(canvas_dc, 0x000000);
    DrawTextA(canvas_dc, label, -1, &shadow, format);
    SetTextColor(canvas_dc, 0xE0E0E0);
    DrawTextA(canvas_dc, label, -1, &light, format);
    return region(300, 150, 380, 182);
}

TEST_F(Screen, QuitButtonLabelRectangles) {
    draw_frame();
    draw_button(4);
    std::vector<COLORREF> normal = region(300, 150, 380, 182);
    EXPECT_EQ(normal, expected_label({302, 152, 380, 182}, {300, 150, 380, 182}));
    EXPECT_NE(normal, expected_label({304, 154, 380, 182}, {302, 152, 380, 182})) << "the rectangles tell apart";
    button_table[4].pressed = 1;
    draw_button(4);
    std::vector<COLORREF> pressed = region(300, 150, 380, 182);
    EXPECT_EQ(pressed, expected_label({304, 154, 380, 182}, {302, 152, 380, 182}));
    EXPECT_NE(pressed, normal);
}

TEST_F(Screen, ErasedAndLitEntries) {
    draw_frame();
    button_table[4].lit = 1;
    draw_button(4);
    EXPECT_EQ(pixel(378, 160), scale_colour(0xA0A0A0, 0.5)) << "lit takes look1 as the face";
    button_table[4].erased = 1;
    draw_button(4);
    for (COLORREF c : region(300, 150, 380, 182)) EXPECT_EQ(c, 0x202020u);
}
