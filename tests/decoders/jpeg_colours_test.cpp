// Pictures coded by libjpeg-turbo's tools, given each kind of leading segment, cleaned, and
// decoded by djpeg before and after: the bytes expected, and the same pixels.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/core/fixture.h"

namespace {

const Bytes soi = {0xFF, 0xD8};
std::filesystem::path folder;

// Runs a shell command in the folder; the file it made.
Bytes made_by(const std::string& command, const std::string& made) {
    EXPECT_EQ(std::system(("cd " + folder.string() + " && (" + command + ") >/dev/null 2>&1").c_str()), 0) << command;
    return read_file(folder / made);
}

Bytes decoded(const Bytes& jpeg) {
    write_file(folder / "d.jpg", jpeg);
    return made_by("djpeg -outfile d.ppm d.jpg", "d.ppm");
}

struct Picture {
    const char* name;
    const char* command;  // codes p.ppm as c.jpg
    bool rgb;
};

void PrintTo(const Picture& picture, std::ostream* out) { *out << picture.name; }

class JpegColours : public testing::TestWithParam<Picture> {};

TEST_P(JpegColours, KeepTheirBytesAndPixelsWhateverSegmentComesFirst) {
    folder = scratch_folder();
    write_file(folder / "p.ppm", text_bytes("P6 48 32 255\n") + noise(48 * 32 * 3, 5));
    Bytes picture = made_by(GetParam().command, "c.jpg");
    ASSERT_GT(picture.size(), 100u);
    size_t head_end = picture[3] == 0xE0 || picture[3] == 0xEE ? 4 + read_be16(&picture[4]) : 2;
    Bytes head(picture.begin() + 2, picture.begin() + head_end), rest(picture.begin() + head_end, picture.end());
    Bytes cleaned_head = (GetParam().rgb ? soi : fixed_jfif_head()) + (picture[3] == 0xEE ? head : Bytes{});
    EXPECT_EQ(reduced_copy(soi + rest), soi + rest);
    for (const Bytes& first : {Bytes{}, jpeg_segment(0xE1, text_bytes("Exif") + Bytes{0, 0} + noise(90, 1)),
                               jpeg_segment(0xED, text_bytes("Photoshop 3.0") + Bytes{0} + noise(40, 2)),
                               jpeg_segment(0xFE, text_bytes("a comment")),
                               jpeg_segment(0xE2, text_bytes("ICC_PROFILE") + Bytes{0, 1, 1} + noise(60, 3))}) {
        Bytes source = soi + first + head + rest, copy = reduced_copy(source);
        EXPECT_EQ(copy, first.empty() ? source : cleaned_head + rest);
        EXPECT_EQ(decoded(copy), decoded(source));
    }
    std::filesystem::remove_all(folder);
}

// cjpeg -rgb writes an Adobe segment of transform 0 first and names the components 'R', 'G', 'B';
// without that segment (its 18 bytes after SOI cut out) only the names tell RGB.
INSTANTIATE_TEST_SUITE_P(
    YcbcrRgbGreyCmyk, JpegColours,
    testing::Values(
        Picture{"ycbcr", "cjpeg -outfile c.jpg p.ppm", false},
        Picture{"rgb_by_adobe", "cjpeg -rgb -outfile c.jpg p.ppm", true},
        Picture{"rgb_by_names", "cjpeg -rgb p.ppm >r.jpg && { head -c 2 r.jpg; tail -c +19 r.jpg; } >c.jpg", true},
        Picture{"grey", "cjpeg -grayscale -outfile c.jpg p.ppm", false},
        Picture{"cmyk", "tjbench p.ppm 90 -cmyk -subsamp 444 -benchtime 0.01 -warmup 0 && mv p_444_Q90.jpg c.jpg",
                false}),
    [](const testing::TestParamInfo<Picture>& info) { return std::string(info.param.name); });

}  // namespace
