// The Emblem on the Canvas: pixel places, the record in the built brinq.exe and in this program.
#include "tests/win/screen_fixture.h"

#include "emblem/emblem.h"
#include "tests/core/emblem_fixture.h"

static Emblem single_pixel(uint32_t index) {
    Emblem emblem{60, 50, Bytes(3000, 0)};
    emblem.alpha[index] = 255;
    return emblem;
}

TEST_F(Screen, FirstAndLastPixelPlaces) {
    fill_rect(0, 0, 400, 200, 0x303030);
    blend_emblem(single_pixel(0), 30, 62);
    EXPECT_EQ(pixel(30, 112), 0xFFFFFFu) << "first pixel at (left, top + 50)";
    blend_emblem(single_pixel(2999), 30, 62);
    EXPECT_EQ(pixel(89, 63), 0xFFFFFFu) << "last pixel at (left + 59, top + 1)";
    blend_emblem(single_pixel(60), 30, 62);
    EXPECT_EQ(pixel(30, 111), 0xFFFFFFu) << "the second line lies above the first";
    int white = count_colour(region(0, 0, 400, 200), 0xFFFFFF);
    EXPECT_EQ(white, 3) << "transparent pixels keep the Canvas";
}

TEST_F(Screen, BlendedOverTheCanvas) {
    fill_rect(0, 0, 400, 200, 0x303030);
    Emblem emblem{60, 50, Bytes(3000, 0)};
    emblem.alpha[0] = 136;
    emblem.alpha[1] = 255;
    blend_emblem(emblem, 30, 62);
    EXPECT_EQ(pixel(30, 112), 0x9F9F9Fu);
    EXPECT_EQ(pixel(31, 112), 0xFFFFFFu);
    EXPECT_EQ(pixel(32, 112), 0x303030u);
}

TEST(EmblemStore, FoundInTheBuiltProgram) {
    Bytes scan(emblem_scan_size, 0);
    uint32_t got = read_emblem_record(host_path(BRINQ_EXE).c_str(), scan.data());
    ASSERT_GT(got, 0u);
    Emblem emblem{};
    ASSERT_TRUE(decode_emblem(scan.data(), got, &emblem));
    uint32_t width = 0, height = 0;
    EXPECT_EQ(emblem.alpha, emblem_picture(&width, &height));
    EXPECT_EQ(emblem.width, width);
    EXPECT_EQ(emblem.height, height);
}

TEST(EmblemStore, FoundInTheRunningProgram) {
    Bytes scan(emblem_scan_size, 0);
    uint32_t got = find_emblem_record(scan.data());
    ASSERT_GT(got, 0u);
    Bytes committed = committed_record();
    EXPECT_TRUE(std::equal(committed.begin(), committed.end(), scan.begin()));
}

TEST_F(Screen, DrawEmblemFromTheRunningProgram) {
    fill_rect(0, 0, 400, 200, 0x303030);
    draw_emblem(30, 62);
    uint32_t width = 0, height = 0;
    Bytes alpha = emblem_picture(&width, &height);
    for (uint32_t i = 0; i < alpha.size(); i++) {
        uint32_t a = alpha[i], v = 0x30, g = a + v - v * a / 255;
        ASSERT_EQ(pixel(30 + int32_t(i % 60), 112 - int32_t(i / 60)), g | g << 8 | g << 16) << i;
    }
}
