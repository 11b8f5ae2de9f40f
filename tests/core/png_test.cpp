// The PNG filter: which chunks survive, byte for byte, and which files it refuses to copy.
#include <gtest/gtest.h>

#include "tests/core/fixture.h"

namespace {

// 4 x 4 pixels, 8-bit RGB.
const Bytes ihdr = png_chunk("IHDR", be32(4) + be32(4) + Bytes{8, 2, 0, 0, 0});
const Bytes phys = png_chunk("pHYs", be32(2835) + be32(2835) + Bytes{1});
const Bytes chrm = png_chunk("cHRM", noise(32, 1));
const Bytes iccp = png_chunk("iCCP", text_bytes("icc") + Bytes{0, 0} + noise(40, 2));
const Bytes gama = png_chunk("gAMA", be32(45455));
const Bytes srgb = png_chunk("sRGB", {0});
const Bytes text = png_chunk("tEXt", text_bytes("Comment") + Bytes{0} + text_bytes("kept"));
const Bytes idat1 = png_chunk("IDAT", noise(30, 3));
const Bytes idat2 = png_chunk("IDAT", noise(17, 4));
const Bytes iend = png_chunk("IEND", {});

TEST(Png, DropsColourProfilePixelSizeAndChromaticitiesOnly) {
    Bytes source = png_signature() + ihdr + phys + chrm + iccp + gama + srgb + text + idat1 + idat2 + iend;
    EXPECT_EQ(reduced_copy(source), png_signature() + ihdr + gama + srgb + text + idat1 + idat2 + iend);
}

TEST(Png, DropsEveryCopyWhereverItStands) {
    Bytes source = png_signature() + phys + ihdr + iccp + idat1 + chrm + phys + idat2 + iccp + chrm + iend;
    EXPECT_EQ(reduced_copy(source), png_signature() + ihdr + idat1 + idat2 + iend);
}

TEST(Png, TypeComparesAreExactAndNothingDroppedGivesTheSameBytes) {
    Bytes look_alikes = png_chunk("PHYS", noise(9, 5)) + png_chunk("iccp", noise(12, 6)) +
                        png_chunk("cHRm", noise(32, 7));
    Bytes source = png_signature() + ihdr + look_alikes + png_chunk("zERO", {}) + idat1 + iend;
    EXPECT_EQ(reduced_copy(source), source);
}

TEST(Png, EndsWithIendAndLeavesTrailingDataBehind) {
    Bytes file = png_signature() + ihdr + idat1 + iend;
    for (const Bytes& trailing : {Bytes{0}, noise(11, 9), png_chunk("tEXt", text_bytes("after")), noise(5000, 10)})
        EXPECT_EQ(reduced_copy(file + trailing), file);
}

TEST(Png, FilteringTheCopyAgainChangesNothing) {
    Bytes once = reduced_copy(png_signature() + ihdr + phys + iccp + idat1 + iend + noise(20, 11));
    EXPECT_EQ(reduced_copy(once), once);
}

// A file without IEND whose chunks end exactly at its end is copied up to its last chunk,
// whichever chunk that is.
const std::vector<Bytes> pieces = {png_signature(), ihdr, phys, png_chunk("IDAT", noise(5, 16)), chrm, iend};
const std::vector<bool> piece_kept = {true, true, false, true, false, true};

TEST(Png, ChunksFillingTheFileWithoutIendAreCopied) {
    for (size_t count = 2; count <= pieces.size(); count++) {
        SCOPED_TRACE(count);
        Bytes source, kept;
        for (size_t i = 0; i < count; i++) {
            source = source + pieces[i];
            if (piece_kept[i]) kept = kept + pieces[i];
        }
        EXPECT_EQ(reduced_copy(source), kept);
    }
}

TEST(Png, SignatureWithoutChunksIsLeftAlone) { EXPECT_TRUE(left_alone(reduce(png_signature()))); }

class PngCut : public testing::TestWithParam<size_t> {};

TEST_P(PngCut, FileCutInsideAChunkIsLeftAlone) {
    EXPECT_TRUE(left_alone(reduce(first_bytes(joined(pieces), GetParam()))));
}

INSTANTIATE_TEST_SUITE_P(EveryOffset, PngCut, testing::ValuesIn(cuts_inside(pieces)));

TEST(Png, LengthOf2To31OrMoreIsLeftAlone) {
    for (uint32_t length : {0x80000000u, 0xFFFFFFF4u, 0xFFFFFFFFu}) {
        Bytes huge = be32(length) + text_bytes("IDAT") + noise(64, 12);
        EXPECT_TRUE(left_alone(reduce(png_signature() + ihdr + huge + iend))) << length;
    }
}

TEST(Png, ChunkRunningPastTheEndIsLeftAlone) {
    Bytes runs_on = be32(100) + text_bytes("IDAT") + noise(60, 13);
    EXPECT_TRUE(left_alone(reduce(png_signature() + ihdr + runs_on)));
    Bytes one_short = be32(48) + text_bytes("IDAT") + noise(51, 14);  // data and CRC need 52
    EXPECT_TRUE(left_alone(reduce(png_signature() + ihdr + one_short)));
}

// Without IEND, bytes after the last chunk are not a chunk of their own.
TEST(Png, StrayBytesAfterTheLastChunkWithoutIendAreLeftAlone) {
    for (size_t stray = 1; stray <= 11; stray++)
        EXPECT_TRUE(left_alone(reduce(png_signature() + ihdr + idat1 + noise(stray, 15)))) << stray;
    Bytes stray_header = be32(1000) + text_bytes("junk") + filled(4, 0);
    EXPECT_TRUE(left_alone(reduce(png_signature() + ihdr + idat1 + stray_header)));
}

}  // namespace
