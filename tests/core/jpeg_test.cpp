// The JPEG filter: the head it writes, the segments it keeps and drops before the first scan,
// and the files it refuses to copy.
#include <gtest/gtest.h>

#include "tests/core/fixture.h"

namespace {

const Bytes soi = {0xFF, 0xD8};
// JFIF 1.01 APP0: no density unit, aspect 1:1, no thumbnail.
const Bytes jfif = jpeg_segment(0xE0, text_bytes("JFIF") + Bytes{0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
// Exif APP1: identifier, two zeros, then the TIFF data and thumbnail as noise.
const Bytes exif = jpeg_segment(0xE1, text_bytes("Exif") + Bytes{0, 0} + noise(60, 20));
const Bytes icc = jpeg_segment(0xE2, text_bytes("ICC_PROFILE") + Bytes{0, 1, 1} + noise(40, 21));
const Bytes com = jpeg_segment(0xFE, text_bytes("a comment"));
const Bytes dqt = jpeg_segment(0xDB, Bytes{0} + noise(64, 22));
const Bytes sof0 = jpeg_segment(0xC0, {8, 0, 4, 0, 4, 1, 1, 0x11, 0});  // 4 x 4, one component
const Bytes dht = jpeg_segment(0xC4, Bytes{0, 1} + filled(15, 0) + Bytes{0});
// SOS for one component, entropy-coded data, EOI.
const Bytes scan = jpeg_segment(0xDA, {1, 1, 0, 0, 63, 0}) + noise(50, 23) + Bytes{0xFF, 0xD9};
// Adobe APP14: identifier, version 100, two flag words, transform 2 (YCCK).
const Bytes adobe = jpeg_segment(0xEE, text_bytes("Adobe") + Bytes{0, 100, 0, 0, 0, 0, 2});
const Bytes fixed_head = fixed_jfif_head();

TEST(Jpeg, KeepsJfifTablesFrameAndEverythingFromTheScan) {
    Bytes source = soi + jfif + exif + icc + com + dqt + sof0 + dht + scan;
    EXPECT_EQ(reduced_copy(source), soi + jfif + dqt + sof0 + dht + scan);
}

TEST(Jpeg, ExifFirstGetsAMinimalJfifSegmentInItsPlace) {
    EXPECT_EQ(reduced_copy(soi + exif + jfif + dqt + sof0 + scan), fixed_head + dqt + sof0 + scan);
    Bytes exif_in_app0 = jpeg_segment(0xE0, text_bytes("Exif") + Bytes{0, 0} + noise(30, 24));
    EXPECT_EQ(reduced_copy(soi + exif_in_app0 + dqt + scan), fixed_head + dqt + scan);
}

TEST(Jpeg, FirstSegmentReachingTheEndGivesOnlyTheHead) {
    EXPECT_EQ(reduced_copy(soi + jfif), soi + jfif);
    EXPECT_EQ(reduced_copy(soi + exif), fixed_head);
}

// Adobe's APP14 decides how CMYK and YCCK colours are read, so it stays wherever it stands.
TEST(Jpeg, KeepsAdobeApp14AndDropsOtherApp14) {
    Bytes other = jpeg_segment(0xEE, text_bytes("Adobf") + Bytes{0, 100});
    Bytes too_short = jpeg_segment(0xEE, text_bytes("Adob"));
    Bytes source = soi + jfif + other + adobe + too_short + dqt + adobe + scan;
    EXPECT_EQ(reduced_copy(source), soi + jfif + adobe + dqt + adobe + scan);
    EXPECT_EQ(reduced_copy(soi + exif + adobe + scan), fixed_head + adobe + scan);
}

// Adobe APP14 with the transform as its body's twelfth byte, cut to `length` bytes of body.
Bytes adobe_with(unsigned char transform, size_t length = 12) {
    return jpeg_segment(0xEE, first_bytes(text_bytes("Adobe") + Bytes{0, 100, 0, 0, 0, 0, transform}, length));
}

// Decoders read three components as RGB by the last Adobe segment before the scan that is long
// enough to tell, wherever it stands, else by the names 'R', 'G', 'B'; a JFIF segment says YCbCr.
TEST(Jpeg, NoJfifSegmentInTheLeadingOnesPlaceWhereItWouldTurnRgbColours) {
    Bytes rgb = jpeg_segment(0xC0, {8, 0, 4, 0, 4, 3, 'R', 0x11, 0, 'G', 0x11, 0, 'B', 0x11, 0});
    Bytes ycc = jpeg_segment(0xC0, {8, 0, 4, 0, 4, 3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0});
    for (const Bytes& kept : {rgb, adobe_with(0) + ycc, ycc + dht + adobe_with(0), adobe_with(1, 11) + rgb})
        EXPECT_EQ(reduced_copy(soi + exif + kept + scan), soi + kept + scan);
    for (const Bytes& kept : {ycc, adobe_with(1) + rgb, rgb + adobe_with(0) + adobe_with(2), adobe_with(0) + sof0})
        EXPECT_EQ(reduced_copy(soi + exif + kept + scan), fixed_head + kept + scan);
}

TEST(Jpeg, FillBytesBeforeMarkersAreSkippedAndTheWalkStaysInStep) {
    Bytes source = soi + jfif + Bytes{0xFF, 0xFF} + dqt + filled(4, 0xFF) + com + Bytes{0xFF} + sof0 +
                   Bytes{0xFF, 0xFF, 0xFF} + scan;
    EXPECT_EQ(reduced_copy(source), soi + jfif + dqt + sof0 + scan);
}

TEST(Jpeg, PairWithoutFfIsKeptAsASegmentWithItsLength) {
    Bytes pair = {0x12, 0x34, 0x00, 0x06, 0xAB, 0xCD, 0xFF, 0xE1};
    EXPECT_EQ(reduced_copy(soi + jfif + pair + com + scan), soi + jfif + pair + scan);
}

TEST(Jpeg, TrailingDataAfterEoiIsCopied) {
    Bytes trailing = noise(300, 25) + exif;
    EXPECT_EQ(reduced_copy(soi + jfif + com + dqt + scan + trailing), soi + jfif + dqt + scan + trailing);
}

TEST(Jpeg, FilteringTheCopyAgainChangesNothing) {
    Bytes once = reduced_copy(soi + exif + Bytes{0xFF} + icc + adobe + dqt + com + sof0 + scan + noise(9, 26));
    EXPECT_EQ(reduced_copy(once), once);
}

const Bytes body = text_bytes("JFIF") + Bytes{0} + noise(20, 27);

class JpegDroppedMarker : public testing::TestWithParam<int> {};

TEST_P(JpegDroppedMarker, SegmentIsDropped) {
    Bytes source = soi + jfif + jpeg_segment(uint8_t(GetParam()), body) + dqt + scan;
    EXPECT_EQ(reduced_copy(source), soi + jfif + dqt + scan);
}

// A second JFIF APP0, APPn, JPGn, COM, TEM and reserved markers.
INSTANTIATE_TEST_SUITE_P(ApplicationCommentReserved, JpegDroppedMarker,
                         testing::Values(0xE0, 0xE1, 0xE2, 0xED, 0xEE, 0xEF, 0xF0, 0xF7, 0xFD, 0xFE, 0x01, 0x02,
                                         0x7F, 0xBF));

class JpegKeptMarker : public testing::TestWithParam<int> {};

TEST_P(JpegKeptMarker, SegmentIsKept) {
    Bytes source = soi + jfif + dqt + jpeg_segment(uint8_t(GetParam()), body) + com + scan;
    EXPECT_EQ(reduced_copy(source), soi + jfif + dqt + jpeg_segment(uint8_t(GetParam()), body) + scan);
}

// SOFn, DHT, JPG, DAC.
INSTANTIATE_TEST_SUITE_P(FramesAndTables, JpegKeptMarker, testing::Range(0xC0, 0xD0));
// DQT, DNL, DRI, DHP, EXP, and 00.
INSTANTIATE_TEST_SUITE_P(QuantisationRestartAndOthers, JpegKeptMarker,
                         testing::Values(0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0x00));

class JpegScanMarker : public testing::TestWithParam<int> {};

// Also when the marker is the file's last two bytes.
TEST_P(JpegScanMarker, RestOfTheFileIsCopiedAsItStands) {
    Bytes marker = {0xFF, uint8_t(GetParam())};
    Bytes tail = marker + com + noise(40, 28) + exif;
    EXPECT_EQ(reduced_copy(soi + jfif + com + dqt + tail), soi + jfif + dqt + tail);
    EXPECT_EQ(reduced_copy(soi + jfif + com + dqt + marker), soi + jfif + dqt + marker);
}

// RST0-RST7, SOI, EOI, SOS.
INSTANTIATE_TEST_SUITE_P(RestartImageAndScan, JpegScanMarker, testing::Range(0xD0, 0xDB));

TEST(Jpeg, FirstLengthBelow2IsLeftAlone) {
    for (uint32_t length = 0; length < 2; length++) {
        Bytes head = Bytes{0xFF, 0xD8, 0xFF, 0xE0} + be16(length) + text_bytes("JFIF");
        EXPECT_TRUE(left_alone(reduce(head + dqt + scan))) << length;
    }
}

TEST(Jpeg, LoopLengthBelow2IsLeftAlone) {
    for (unsigned char marker : {0xDB, 0xE1, 0x00})
        for (uint32_t length : {0u, 1u})
            EXPECT_TRUE(left_alone(reduce(soi + jfif + Bytes{0xFF, marker} + be16(length) + dqt + scan)))
                << int(marker) << " " << length;
}

TEST(Jpeg, SegmentRunningPastTheEndIsLeftAlone) {
    for (unsigned char marker : {0xDB, 0xE1}) {
        Bytes runs_on = Bytes{0xFF, marker} + be16(400) + noise(200, 29) + Bytes{0xFF, 0xD9};
        EXPECT_TRUE(left_alone(reduce(soi + jfif + com + runs_on))) << int(marker);
    }
}

// Before the scan: a file cut inside a segment, its marker or fill bytes.
const std::vector<Bytes> pieces = {soi,  jfif, jpeg_segment(0xFE, {'c'}),
                                   Bytes{0xFF, 0xFF} + jpeg_segment(0xDB, noise(5, 30)),
                                   jpeg_segment(0xE1, text_bytes("Exif")), sof0, {0xFF, 0xDA}};

class JpegCut : public testing::TestWithParam<size_t> {};

TEST_P(JpegCut, FileCutInsideASegmentIsLeftAlone) {
    EXPECT_TRUE(left_alone(reduce(first_bytes(joined(pieces), GetParam()))));
}

INSTANTIATE_TEST_SUITE_P(EveryOffset, JpegCut, testing::ValuesIn(cuts_inside(pieces)));

// A file cut between segments is a file of fewer segments: copied like one.
TEST(Jpeg, SegmentsFillingTheFileBeforeAnyScanAreCopied) {
    EXPECT_EQ(reduced_copy(soi + jfif + com + Bytes{0xFF, 0xFF} + dqt), soi + jfif + dqt);
    EXPECT_EQ(reduced_copy(soi + jfif + com + dqt + exif + sof0), soi + jfif + dqt + sof0);
}

}  // namespace
