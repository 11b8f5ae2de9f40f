// The screens drawn into a real Canvas: frame, title, instructions, result lines, about screen.
#include "tests/win/screen_fixture.h"

#include <cstring>

#include "clean/clean.h"
#include "emblem/emblem.h"
#include "tests/core/emblem_fixture.h"

static std::string bytes_of(const TextLine& line) { return std::string(line.text, line.length); }

// Redraws (x1, y1)-(x2, y2) as it should look: the background, then each text with TextOutA.
struct Expected {
    int32_t x, y;
    std::string text;
};
static std::vector<COLORREF> expected_region(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF background,
                                             const std::vector<Expected>& texts) {
    fill_rect(x1, y1, x2, y2, background);
    for (const Expected& t : texts) TextOutA(canvas_dc, t.x, t.y, t.text.data(), int(t.text.size()));
    return region(x1, y1, x2, y2);
}

TEST_F(Screen, FrameAndTitleBar) {
    draw_frame();
    EXPECT_EQ(GetBkMode(canvas_dc), TRANSPARENT);
    EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
    for (int32_t x : {0, 1, 200, 398, 399}) {
        EXPECT_EQ(pixel(x, 0), 0x202020u);
        EXPECT_EQ(pixel(x, 199), 0x202020u);
    }
    EXPECT_EQ(pixel(0, 100), 0x202020u);
    EXPECT_EQ(pixel(399, 100), 0x202020u);
    EXPECT_EQ(pixel(1, 1), 0x303030u);
    EXPECT_EQ(pixel(398, 198), 0x303030u);
    EXPECT_EQ(pixel(2, 19), 0x303030u);
    EXPECT_EQ(pixel(397, 1), 0x303030u);
    EXPECT_EQ(pixel(2, 2), 0x404040u);
    EXPECT_EQ(pixel(397, 18), 0x404040u);
    EXPECT_EQ(pixel(398, 10), 0x303030u);

    EXPECT_EQ(bytes_of(title_line), "    Brindlequist");
    EXPECT_EQ(title_line.length, 16);
    // The title is "Brindlequist" behind four spaces' width.
    std::vector<COLORREF> drawn = region(2, 2, 398, 19);
    SIZE spaces;
    GetTextExtentPoint32A(canvas_dc, "    ", 4, &spaces);
    EXPECT_GT(spaces.cx, 0);
    EXPECT_EQ(drawn, expected_region(2, 2, 398, 19, 0x404040, {{5 + spaces.cx, 4, "Brindlequist"}}));
    EXPECT_GT(count_other(drawn, 0x404040), 40);
    EXPECT_EQ(button_table[4].left, 300) << "draw_frame builds the button table";
}

TEST_F(Screen, InstructionLines) {
    draw_frame();
    show_instructions();
    const char* texts[3] = {u8"[ png jpg psd ] ファイルの不要データ部分を除去します。",
                            u8"ファイルまたはフォルダをここにドラッグしてください。",
                            u8"brinq.exeにドラッグして起動しても除去できます。"};
    const int32_t lengths[3] = {54, 52, 47};
    const int32_t rows[3] = {40, 55, 80};
    std::vector<Expected> expected;
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(bytes_of(instruction_lines[k]), sjis(texts[k])) << k;
        EXPECT_EQ(instruction_lines[k].length, lengths[k]);
        EXPECT_EQ(int32_t(strlen(instruction_lines[k].text)), lengths[k]);
        EXPECT_EQ(instruction_lines[k].x, 25);
        EXPECT_EQ(instruction_lines[k].y, rows[k]);
        expected.push_back({25, rows[k], sjis(texts[k])});
    }
    draw_buttons();
    ASSERT_TRUE(save_screenshot("instructions.bmp"));
    std::vector<COLORREF> drawn = region(2, 21, 398, 148);
    EXPECT_GT(count_other(drawn, 0x303030), 500);
    EXPECT_EQ(drawn, expected_region(2, 21, 398, 148, 0x303030, expected));
}

struct ResultCase {
    int32_t targets, changed;
    const char* text;
    size_t length;  // 0: not given, only the text is checked
};

TEST_F(Screen, ResultLines) {
    const ResultCase cases[] = {
        {3, 2, u8"対象画像ファイル 3 個のうち 2 個から除去しました。", 50},
        {0, 0, u8"対象画像ファイル 0 個の中に除去対象データはありません。", 55},
        {12, 12, u8"対象画像ファイル 12 個のうち 12 個から除去しました。", 52},
        {7, 0, u8"対象画像ファイル 7 個の中に除去対象データはありません。", 0},
        {2147483647, 1, u8"対象画像ファイル 2147483647 個のうち 1 個から除去しました。", 0},
    };
    draw_frame();
    for (const ResultCase& c : cases) {
        target_count = c.targets;
        changed_count = c.changed;
        char line[path_size];
        int32_t length = compose_result(line);
        EXPECT_EQ(std::string(line, length), sjis(c.text));
        if (c.length) {
            EXPECT_EQ(size_t(length), c.length);
        }

        show_instructions();
        show_result();
        std::vector<COLORREF> drawn = region(2, 100, 398, 148);
        EXPECT_GT(count_other(drawn, 0x303030), 200);
        EXPECT_EQ(drawn, expected_region(2, 100, 398, 148, 0x303030, {{25, 110, sjis(c.text)}})) << c.text;
    }
    target_count = 3;
    changed_count = 2;
    show_instructions();
    show_result();
    draw_buttons();
    EXPECT_TRUE(save_screenshot("result.bmp"));
}

static COLORREF grey(uint32_t g) { return g | g << 8 | g << 16; }

// Panel rows darken one step every 32 lines.
static COLORREF panel_colour(int32_t y) { return grey(36 - y / 32); }

TEST_F(Screen, AboutScreen) {
    draw_frame();
    show_instructions();
    draw_buttons();
    show_about();
    EXPECT_EQ(about_shown, 1);
    ASSERT_TRUE(save_screenshot("about.bmp"));

    // Bands, away from texts and Emblem.
    for (int32_t x : {6, 20, 393}) {
        EXPECT_EQ(pixel(x, 40), 0x232323u);
        EXPECT_EQ(pixel(x, 63), 0x232323u);
        EXPECT_EQ(pixel(x, 64), 0x222222u);
        EXPECT_EQ(pixel(x, 95), 0x222222u);
        EXPECT_EQ(pixel(x, 96), 0x212121u);
        EXPECT_EQ(pixel(x, 127), 0x212121u);
        EXPECT_EQ(pixel(x, 128), 0x202020u);
        EXPECT_EQ(pixel(x, 141), 0x202020u);
    }
    for (int32_t x = 2; x < 398; x++) EXPECT_EQ(pixel(x, 142), 0x303030u) << "row 142 is not the panel's";
    for (int32_t y = 21; y < 148; y++) {
        EXPECT_EQ(pixel(394, y), 0x303030u) << "column 394 is not the panel's";
        EXPECT_EQ(pixel(5, y), 0x303030u);
    }
    EXPECT_EQ(pixel(6, 39), 0x303030u);

    EXPECT_EQ(bytes_of(about_lines[0]), "Brindlequist    ver c1.1");
    EXPECT_EQ(about_lines[0].length, 24);
    EXPECT_EQ(about_lines[1].length, 45);
    EXPECT_EQ(strlen(about_lines[1].text), 45u);
    for (int i = 0; i < 45; i++) EXPECT_TRUE(about_lines[1].text[i] >= 0x20 && about_lines[1].text[i] < 0x7F);

    // The whole panel as it should be: the bands, both lines, the Emblem in white over its rows.
    std::vector<COLORREF> drawn = region(6, 40, 394, 142);
    for (int32_t y = 40; y <= 141; y++) fill_rect(6, y, 394, y + 1, panel_colour(y));
    TextOutA(canvas_dc, 105, 70, "Brindlequist    ver c1.1", 24);
    TextOutA(canvas_dc, 110, 95, about_lines[1].text, 45);
    uint32_t width = 0, height = 0;
    Bytes alpha = emblem_picture(&width, &height);
    ASSERT_EQ(alpha.size(), 3000u);
    for (uint32_t i = 0; i < alpha.size(); i++) {
        int32_t x = 30 + int32_t(i % 60), y = 62 + 50 - int32_t(i / 60);
        uint32_t v = 36 - y / 32, a = alpha[i];
        SetPixel(canvas_dc, x, y, grey(a + v - v * a / 255));
    }
    EXPECT_EQ(drawn, region(6, 40, 394, 142));
    EXPECT_GT(count_colour(drawn, 0xFFFFFF), 300) << "the Emblem's opaque pixels";
}
