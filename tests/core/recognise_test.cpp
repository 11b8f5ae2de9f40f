// Recognition by the head bytes: which files reach a filter and are counted in target_count.
#include <gtest/gtest.h>

#include "tests/core/fixture.h"

namespace {

// Signature, IHDR of a 1 x 1 grey image, pHYs, IEND.
const Bytes png = png_signature() + png_chunk("IHDR", be32(1) + be32(1) + Bytes{8, 0, 0, 0, 0}) +
                  png_chunk("pHYs", filled(9, 1)) + png_chunk("IEND", {});
const Bytes jfif_body = text_bytes("JFIF") + Bytes{0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
const Bytes exif_body = text_bytes("Exif") + Bytes{0, 0} + noise(20, 60);
const Bytes soi = {0xFF, 0xD8};
const Bytes dqt_and_eoi = jpeg_segment(0xDB, noise(65, 61)) + Bytes{0xFF, 0xD9};
// SOI, JFIF APP0, DQT, EOI.
const Bytes jfif_jpeg = Bytes{0xFF, 0xD8} + jpeg_segment(0xE0, jfif_body) + dqt_and_eoi;
// SOI, Exif APP1, DQT, EOI.
const Bytes exif_jpeg = Bytes{0xFF, 0xD8} + jpeg_segment(0xE1, exif_body) + dqt_and_eoi;
// Header, no colour mode data, an empty resource section, 10 bytes of image data.
const Bytes psd = psd_file({}, {}, noise(10, 62));

TEST(Recognise, PngWithOtherSignatureBytesIsStillPng) {
    Bytes odd = {0x89, 'P', 'N', 'G', 0x00, 0x11, 0xFF, 0x0A};
    Bytes rest = Bytes(png.begin() + 8, png.end());
    EXPECT_EQ(reduced_copy(odd + rest), odd + first_bytes(rest, 25) + png_chunk("IEND", {}));
}

// Any application segment or comment first, however short, gives way to the fixed JFIF head; a
// JFIF segment (APP1 too), a frame or a table first stays.
TEST(Recognise, JpegByTheSegmentAfterSoi) {
    for (unsigned char marker : {0xE0, 0xE1, 0xE2, 0xED, 0xEE, 0xEF, 0xFE})
        for (const Bytes& body : {exif_body, text_bytes("JFXX"), text_bytes("Ado"), Bytes{}})
            EXPECT_EQ(reduced_copy(soi + jpeg_segment(marker, body) + dqt_and_eoi), fixed_jfif_head() + dqt_and_eoi);
    for (unsigned char marker : {0xE1, 0xC2, 0xC4, 0xCC, 0xCF, 0xDD}) {
        Bytes file = soi + jpeg_segment(marker, jfif_body) + dqt_and_eoi;
        EXPECT_EQ(reduced_copy(file), file);
    }
}

// A recognised file counts whether or not its copy could be made.
TEST(Recognise, EveryRecognisedFileIsCounted) {
    target_count = 0;
    for (const Bytes& file : {png, jfif_jpeg, exif_jpeg, psd, first_bytes(png, 4), first_bytes(psd, 4),
                              first_bytes(jfif_jpeg, 4), first_bytes(psd, 33)})
        reduce(file);
    // Nor scan, restart, SOI or EOI markers, a fill byte, JPGn, or other markers no JPEG begins with.
    for (unsigned char marker : {0xDA, 0xD0, 0xD8, 0xD9, 0xFF, 0xF0, 0xFD, 0xC8, 0xDC, 0xDE, 0xDF, 0x00, 0x01, 0xBF})
        reduce(soi + jpeg_segment(marker, {}) + dqt_and_eoi);
    EXPECT_EQ(target_count, 8);
}

// A file that must not be recognised, with a short name for the test list.
struct Candidate {
    std::string name;
    Bytes bytes;
};

void PrintTo(const Candidate& candidate, std::ostream* out) { *out << candidate.name; }

class NotRecognised : public testing::TestWithParam<Candidate> {};

// Right after cleaned files, whose head bytes and data are still in the shared state.
TEST_P(NotRecognised, IsNotCountedAndLeavesNoCopy) {
    target_count = 0;
    ASSERT_EQ(reduce(png).result, complete_copy);
    ASSERT_EQ(reduce(jfif_jpeg).result, complete_copy);
    Reduced r = reduce(GetParam().bytes);
    EXPECT_EQ(r.result, not_recognised);
    EXPECT_EQ(target_count, 2);
}

// The first `from` to `to` bytes of each file.
std::vector<Candidate> heads(const std::vector<Candidate>& files, size_t from, size_t to) {
    std::vector<Candidate> all;
    for (const Candidate& file : files)
        for (size_t n = from; n <= to; n++)
            all.push_back({file.name + "_" + std::to_string(n), first_bytes(file.bytes, n)});
    return all;
}

INSTANTIATE_TEST_SUITE_P(ZeroToThreeBytes, NotRecognised,
                         testing::ValuesIn(heads({{"png", png}, {"psd", psd}, {"jpeg", jfif_jpeg}}, 0, 3)));

Bytes after_head(const Bytes& file) { return Bytes(file.begin() + 4, file.end()); }

INSTANTIATE_TEST_SUITE_P(
    OtherHeads, NotRecognised,
    testing::Values(
        Candidate{"eoi_for_soi", Bytes{0xFF, 0xD9} + jpeg_segment(0xE0, jfif_body) + dqt_and_eoi},
        Candidate{"no_ff_before_app0", Bytes{0xFF, 0xD8, 0xFE, 0xE0} + after_head(jfif_jpeg)},
        Candidate{"png_lower_case_g", Bytes{0x89, 'P', 'N', 'g'} + after_head(png)},
        Candidate{"png_88", Bytes{0x88, 'P', 'N', 'G'} + after_head(png)},
        Candidate{"psd_lower_case_s", text_bytes("8BPs") + after_head(psd)},
        Candidate{"gif", text_bytes("GIF89a") + noise(30, 63)}));

}  // namespace
