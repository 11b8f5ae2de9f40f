// The button panel: the table, the sprite cells, the painted quit button in both looks.
#include "tests/win/screen_fixture.h"

#include <cstring>

TEST(Buttons, ScaleColour) {
    EXPECT_EQ(scale_colour(0x606060, 0.5), 0x303030u);
    EXPECT_EQ(scale_colour(0x606060, 0.2), 0x131313u);
    EXPECT_EQ(scale_colour(0x0A141E, 0.7), 0x070E15u);  // channel by channel, truncated
    EXPECT_EQ(scale_colour(0xFF606060, 1.0), 0x606060u);
}

TEST_F(Screen, TableAndEntryThree) {
    button_table[2].pressed = 1;
    draw_frame();
    const struct { const char* label; int32_t rect[4], look0, look1; } rows[5] = {
        {"\x81\x7E", {380, 3, 395, 17}, 0, 0}, {"_", {360, 3, 375, 17}, 15, 0}, {"ver", {316, 3, 343, 17}, 30, 0},
        {"x", {0, 150, 80, 182}, 0x806060, 0x606060}, {"\x8F\x49\x97\xB9", {300, 150, 380, 182}, 0x606060, 0xA0A0A0}};
    for (int i = 0; i < 5; i++) {
        const Button& b = button_table[i];
        EXPECT_STREQ(b.label, rows[i].label);
        EXPECT_EQ(std::vector<int32_t>({b.left, b.top, b.right, b.bottom}),
                  std::vector<int32_t>(rows[i].rect, rows[i].rect + 4)) << i;
        EXPECT_EQ(b.look0, rows[i].look0);
        EXPECT_EQ(b.look1, rows[i].look1);
        EXPECT_EQ(b.frame_colour | b.erased | b.lit, 0u);
    }
    EXPECT_EQ(button_table[2].pressed, 1) << "pressed is left as it was";
    EXPECT_EQ(std::vector<LONG>({body_zone.left, body_zone.top, body_zone.right, body_zone.bottom}),
              std::vector<LONG>({20, 40, 1020, 840}));
    fill_rect(0, 140, 100, 190, 0x123456);
    draw_button(3);
    draw_buttons();
    EXPECT_EQ(count_other(region(0, 140, 100, 190), 0x123456), 0) << "entry 3 is never drawn";
}

// A sheet cell: 0x404040 corners, a border, a face, and glyph pixels whose places are collected.
static std::vector<POINT> cell_glyph(const Button& b, COLORREF border, COLORREF face) {
    std::vector<POINT> glyph;
    for (int32_t y = b.top; y < b.bottom; y++) {
        for (int32_t x = b.left; x < b.right; x++) {
            int edges = (x == b.left || x == b.right - 1) + (y == b.top || y == b.bottom - 1);
            COLORREF c = pixel(x, y);
            if (edges) {
                EXPECT_EQ(c, edges == 2 ? 0x404040 : border) << x << "," << y;
            } else if (c != face) {
                EXPECT_TRUE(c == 0xD0D0D0 || c == 0x989898) << x << "," << y;
                glyph.push_back({x, y});
            }
        }
    }
    return glyph;
}

static bool same_places(const std::vector<POINT>& a, const std::vector<POINT>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](POINT p, POINT q) { return p.x == q.x && p.y == q.y; });
}

TEST_F(Screen, SpriteButtons) {
    draw_frame();
    draw_buttons();
    for (int i = 0; i < 3; i++) {
        std::vector<POINT> normal = cell_glyph(button_table[i], 0x606060, 0x505050);
        button_table[i].pressed = 1;
        draw_button(i);
        EXPECT_TRUE(same_places(cell_glyph(button_table[i], 0x303030, 0x202020), normal)) << i;
        button_table[i].pressed = 0;
        draw_button(i);
        EXPECT_TRUE(same_places(cell_glyph(button_table[i], 0x606060, 0x505050), normal)) << i;
        EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
    }
    for (POINT p : {POINT{387, 9}, POINT{384, 6}, POINT{390, 12}, POINT{364, 12}, POINT{370, 13}})
        EXPECT_EQ(pixel(p.x, p.y), 0xD0D0D0u) << "cross and bar at " << p.x << "," << p.y;
    EXPECT_GT(count_other(region(316, 3, 343, 17), 0x505050), 40) << "ver";
}

// Rows of the quit button's face at columns clear of the centred label.
static void expect_face(int32_t shift) {
    for (int32_t x = 300; x < 380; x++) EXPECT_EQ(pixel(x, 150) | pixel(x, 181), 0u) << "frame";
    for (int32_t y = 150; y < 182; y++) EXPECT_EQ(pixel(300, y) | pixel(379, y), 0u) << "frame";
    for (int32_t x : {302, 315, 320, 358, 377}) {
        for (int32_t i = shift ? 0 : 1; i < 15; i++)
            EXPECT_EQ(pixel(x + shift, 151 + i + shift), grey(uint32_t(96 * (i * 0.3 / 16 + 0.7)))) << "upper " << i;
        for (int32_t i = 0; i < 14; i++)
            EXPECT_EQ(pixel(x + shift, 166 + i + shift), grey(uint32_t(96 * (i * 0.1 / 16 + 0.7)))) << "lower " << i;
    }
    EXPECT_EQ(pixel(310, 165 + shift), 0x5C5C5Cu);
    EXPECT_EQ(pixel(310, 166 + shift), 0x434343u);
    EXPECT_EQ(pixel(310, 179 + shift), 0x4B4B4Bu);
}

TEST_F(Screen, QuitButtonLooks) {
    draw_frame();
    draw_button(4);
    expect_face(0);
    for (int32_t i = 151; i <= 180; i++) {
        EXPECT_EQ(pixel(378, i), 0x303030u) << "inner fill, right";
        EXPECT_EQ(pixel(i + 151, 180), 0x303030u) << "inner fill, bottom";
        EXPECT_EQ(pixel(301, i), 0x565656u) << "highlight, left";
        EXPECT_EQ(pixel(i + 150, 151), 0x565656u) << "highlight, top";
    }
    EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
    button_table[4].pressed = 1;
    draw_button(4);
    expect_face(1);
    EXPECT_EQ(pixel(310, 152), 0x434343u);
    for (int32_t i = 151; i <= 180; i++) {
        EXPECT_EQ(pixel(301, i), 0x131313u) << "inner fill, left";
        EXPECT_EQ(pixel(i + 150, 151), 0x131313u) << "inner fill, top";
    }
    EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
}

// The quit button drawn without its label, then shadow and label put into the given rectangles.
static std::vector<COLORREF> labelled_by_hand(RECT shadow, RECT light) {
    char* label = button_table[4].label;
    char kept[sizeof button_table[4].label];
    memcpy(kept, label, sizeof kept);
    label[0] = 0;
    draw_button(4);
    memcpy(label, kept, sizeof kept);
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
    EXPECT_EQ(normal, labelled_by_hand({302, 152, 380, 182}, {300, 150, 380, 182}));
    button_table[4].pressed = 1;
    draw_button(4);
    std::vector<COLORREF> pressed = region(300, 150, 380, 182);
    EXPECT_EQ(pressed, labelled_by_hand({304, 154, 380, 182}, {302, 152, 380, 182}));
    button_table[4].pressed = 0;
    EXPECT_NE(normal, labelled_by_hand({304, 154, 380, 182}, {302, 152, 380, 182}));
}

TEST_F(Screen, LitAndErased) {
    draw_frame();
    button_table[4].lit = 1;
    draw_button(4);
    EXPECT_EQ(pixel(378, 160), 0x505050u) << "lit: look1 is the face";
    button_table[4].erased = 1;
    draw_button(4);
    EXPECT_EQ(count_other(region(300, 150, 380, 182), 0x202020), 0);
}

// A device context that was deleted: making a compatible one from it fails.
static HDC deleted_dc() {
    HDC dc = CreateCompatibleDC(nullptr);
    DeleteDC(dc);
    return dc;
}

TEST(Buttons, ASheetLoadedBeforeItsDeviceContextFailedIsFreedOnClose) {
    EXPECT_FALSE(open_sprite_sheet(GetModuleHandleA(nullptr), deleted_dc()));
    HBITMAP loaded = sprite_bitmap;
    ASSERT_NE(loaded, nullptr);
    close_sprite_sheet();
    EXPECT_EQ(GetObjectType(loaded), 0u);
    EXPECT_EQ(sprite_bitmap, nullptr);
}
