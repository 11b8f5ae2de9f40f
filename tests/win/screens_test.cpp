// The screens drawn into a real Canvas: frame, title, instructions, result lines, about screen.
#include "tests/win/screen_fixture.h"

#include <cstring>

#include "clean/clean.h"
#include "emblem/emblem.h"
#include "tests/core/emblem_fixture.h"

TEST_F(Screen, FrameAndTitle) {
    draw_frame();
    EXPECT_EQ(GetBkMode(canvas_dc), TRANSPARENT);
    EXPECT_EQ(GetTextColor(canvas_dc), 0xE0E0E0u);
    const int32_t edge[][2] = {{0, 0}, {399, 0}, {0, 199}, {399, 199}, {200, 0}, {0, 100}, {399, 100}, {200, 199}};
    for (auto& p : edge) EXPECT_EQ(pixel(p[0], p[1]), 0x202020u);
    for (auto p : {POINT{1, 1}, POINT{398, 198}, POINT{2, 19}, POINT{398, 10}, POINT{397, 1}})
        EXPECT_EQ(pixel(p.x, p.y), 0x303030u);
    EXPECT_EQ(pixel(2, 2), 0x404040u);
    EXPECT_EQ(pixel(397, 18), 0x404040u);
    // "Brindlequist" behind four spaces' width
    EXPECT_EQ(std::string(title_line.text, title_line.length), "    Brindlequist");
    std::vector<COLORREF> drawn = region(2, 2, 398, 19);
    SIZE spaces;
    GetTextExtentPoint32A(canvas_dc, "    ", 4, &spaces);
    EXPECT_GT(count_other(drawn, 0x404040), 100);
    EXPECT_EQ(drawn, redrawn(2, 2, 398, 19, 0x404040, {{5 + spaces.cx, 4, "Brindlequist"}}));
    EXPECT_EQ(button_table[4].left, 300) << "the button table is built";
}

TEST_F(Screen, InstructionsAndResults) {
    draw_frame();
    show_instructions();
    draw_buttons();
    ASSERT_TRUE(save_screenshot("instructions"));
    const char* lines[3] = {u8"[ png jpg psd ] ファイルの不要データ部分を除去します。",
                            u8"ファイルまたはフォルダをここにドラッグしてください。",
                            u8"brinq.exeにドラッグして起動しても除去できます。"};
    const int32_t lengths[3] = {54, 52, 47}, rows[3] = {40, 55, 80};
    std::vector<Text> expected;
    for (int k = 0; k < 3; k++) {
        const TextLine& line = instruction_lines[k];
        EXPECT_EQ(std::string(line.text, line.length), sjis(lines[k]));
        EXPECT_EQ(line.length, lengths[k]);
        EXPECT_EQ(int32_t(strlen(line.text)), lengths[k]);
        expected.push_back({25, rows[k], sjis(lines[k])});
    }
    std::vector<COLORREF> drawn = region(2, 21, 398, 148);
    EXPECT_GT(count_other(drawn, 0x303030), 1000);
    EXPECT_EQ(drawn, redrawn(2, 21, 398, 148, 0x303030, expected));

    const struct { int32_t targets, changed; const char* text; size_t length; } results[] = {
        {3, 2, u8"対象画像ファイル 3 個のうち 2 個から除去しました。", 50},
        {0, 0, u8"対象画像ファイル 0 個の中に除去対象データはありません。", 55},
        {12, 12, u8"対象画像ファイル 12 個のうち 12 個から除去しました。", 52},
        {7, 0, u8"対象画像ファイル 7 個の中に除去対象データはありません。", 55},
    };
    for (const auto& r : results) {
        target_count = r.targets;
        changed_count = r.changed;
        char line[result_line_size];
        int32_t length = compose_result(line);
        EXPECT_EQ(std::string(line, length), sjis(r.text));
        EXPECT_EQ(size_t(length), r.length);
        show_instructions();
        show_result();
        drawn = region(2, 100, 398, 148);
        EXPECT_GT(count_other(drawn, 0x303030), 300);
        EXPECT_EQ(drawn, redrawn(2, 100, 398, 148, 0x303030, {{25, 110, sjis(r.text)}})) << r.text;
    }
    target_count = 3;
    changed_count = 2;
    show_instructions();
    show_result();
    EXPECT_TRUE(save_screenshot("result"));
}

TEST_F(Screen, AboutScreen) {
    draw_frame();
    show_instructions();
    draw_buttons();
    show_about();
    EXPECT_EQ(about_shown, 1);
    ASSERT_TRUE(save_screenshot("about"));
    const struct { int32_t first, last; COLORREF colour; } bands[] = {
        {40, 63, 0x232323}, {64, 95, 0x222222}, {96, 127, 0x212121}, {128, 141, 0x202020}};
    for (const auto& band : bands) {
        for (int32_t x : {6, 20, 393}) {  // away from the texts and the Emblem
            EXPECT_EQ(pixel(x, band.first), band.colour);
            EXPECT_EQ(pixel(x, band.last), band.colour);
        }
    }
    for (int32_t x = 2; x < 398; x++) EXPECT_EQ(pixel(x, 142), 0x303030u) << "row 142, x " << x;
    for (int32_t y = 21; y < 148; y++) EXPECT_EQ(pixel(394, y), 0x303030u) << "column 394, y " << y;
    EXPECT_EQ(std::string(about_lines[0].text, about_lines[0].length), "Brindlequist    ver c1.1");
    EXPECT_EQ(about_lines[1].length, 45);
    EXPECT_EQ(strlen(about_lines[1].text), 45u);

    // The whole panel redrawn by hand: bands, both lines, the picture blended in white.
    std::vector<COLORREF> drawn = region(6, 40, 394, 142);
    for (int32_t y = 40; y <= 141; y++) fill_rect(6, y, 394, y + 1, grey(36 - y / 32));
    TextOutA(canvas_dc, 105, 70, "Brindlequist    ver c1.1", 24);
    TextOutA(canvas_dc, 110, 95, about_lines[1].text, 45);
    Bytes alpha = emblem_picture();
    ASSERT_EQ(alpha.size(), 3000u);
    for (int32_t i = 0; i < 3000; i++) {
        int32_t y = 112 - i / 60;
        uint32_t v = 36 - y / 32, a = alpha[i];
        SetPixel(canvas_dc, 30 + i % 60, y, grey(a + v - v * a / 255));
    }
    EXPECT_EQ(drawn, region(6, 40, 394, 142));
}

TEST_F(Screen, EmblemPixelPlaces) {
    fill_rect(0, 0, 400, 200, 0x303030);
    Emblem emblem{60, 50, Bytes(3000, 0)};
    emblem.alpha[0] = 255;
    emblem.alpha[1] = 136;
    emblem.alpha[60] = 255;
    emblem.alpha[2999] = 255;
    blend_emblem(emblem, 30, 62);
    EXPECT_EQ(pixel(30, 112), 0xFFFFFFu) << "first pixel at (left, top + 50)";
    EXPECT_EQ(pixel(31, 112), 0x9F9F9Fu);
    EXPECT_EQ(pixel(30, 111), 0xFFFFFFu) << "the second line above the first";
    EXPECT_EQ(pixel(89, 63), 0xFFFFFFu) << "last pixel at (left + 59, top + 1)";
    EXPECT_EQ(count_other(region(0, 0, 400, 200), 0x303030), 4);
}

TEST(EmblemStore, FoundInTheBuiltProgramAndInThisOne) {
    Bytes scan(emblem_scan_size, 0);
    FILE* exe = fopen(host_path(BRINQ_EXE).c_str(), "rb");
    ASSERT_TRUE(exe);
    uint32_t got = read_emblem_record(exe, scan.data());
    fclose(exe);
    Emblem emblem{};
    ASSERT_TRUE(got > 0 && decode_emblem(scan.data(), got, &emblem));
    EXPECT_EQ(emblem.alpha, emblem_picture());
    Bytes own(emblem_scan_size, 0), committed = committed_record();
    ASSERT_GT(find_emblem_record(own.data()), 0u);
    EXPECT_TRUE(std::equal(committed.begin(), committed.end(), own.begin()));
}
