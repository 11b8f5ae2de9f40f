// The PSD filter: which image resources survive, byte for byte, how the bulk after the resource
// section is carried over, and the files it refuses to copy.
#include <gtest/gtest.h>

#include "tests/core/fixture.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t mib16 = 16 * 1024 * 1024;

const Bytes resolution = psd_block(1005, "", noise(16, 40));
const Bytes thumbnail = psd_block(1036, "", noise(100, 41));
const Bytes icc = psd_block(1039, "", noise(50, 42));
const Bytes xmp = psd_block(1060, "", text_bytes("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>"));
const Bytes layers_and_image = noise(200, 43);
constexpr size_t section_length_at = 30;  // behind an empty colour mode data

TEST(Psd, DropsThumbnailAndXmpAndKeepsTheRest) {
    Bytes source = psd_file({}, resolution + thumbnail + icc + xmp, layers_and_image);
    EXPECT_EQ(reduced_copy(source), psd_file({}, resolution + icc, layers_and_image));
}

TEST(Psd, OnlyKeptIdsGivesTheSameBytes) {
    Bytes section;
    for (uint16_t id : {1005, 1006, 1007, 1011, 1012, 1013, 1015, 1016, 1024, 1026, 1032, 1034, 1039, 1044, 1045,
                        1053, 10000})
        section = section + psd_block(id, "", noise(id % 7 + 2, id));
    Bytes source = psd_file({}, section, layers_and_image);
    EXPECT_EQ(reduced_copy(source), source);
}

// IPTC, thumbnails, slices, version info, Exif, XMP, caption digest, paths, plug-ins, the IDs
// next to kept ones, and unknown IDs.
TEST(Psd, NoKeptBlockLeavesAnEmptySectionBeforeTheRest) {
    Bytes section;
    for (uint16_t id : {0, 1000, 1004, 1028, 1033, 1036, 1050, 1054, 1057, 1058, 1059, 1060, 1061, 2000, 2997, 4000,
                        4999, 9999, 10001, 65535})
        section = section + psd_block(id, "", noise(id % 5 + 1, id));
    EXPECT_EQ(reduced_copy(psd_file({}, section, layers_and_image)), psd_file({}, {}, layers_and_image));
}

TEST(Psd, IdsNextToTheKeptRangesAreDropped) {
    Bytes section = psd_block(1004, "", {1, 2}) + psd_block(1005, "", {3, 4}) + psd_block(1053, "", {5, 6}) +
                    psd_block(1054, "", {7, 8}) + psd_block(10000, "", {9, 10}) + psd_block(10001, "", {11, 12});
    Bytes kept = psd_block(1005, "", {3, 4}) + psd_block(1053, "", {5, 6}) + psd_block(10000, "", {9, 10});
    EXPECT_EQ(reduced_copy(psd_file({}, section, layers_and_image)), psd_file({}, kept, layers_and_image));
}

// Version info: version 1, hasRealMergedData, then the writer's and reader's names and a version.
static Bytes version_info(unsigned char has_real_merged_data) {
    return psd_block(1057, "", be32(1) + Bytes{has_real_merged_data} + noise(40, 44) + be32(1));
}

TEST(Psd, VersionInfoStaysOnlyWhenTheCompositeIsNotThePicture) {
    Bytes without_composite = psd_file({}, resolution + version_info(0) + thumbnail, layers_and_image);
    EXPECT_EQ(reduced_copy(without_composite), psd_file({}, resolution + version_info(0), layers_and_image));
    Bytes with_composite = psd_file({}, resolution + version_info(1) + thumbnail, layers_and_image);
    EXPECT_EQ(reduced_copy(with_composite), psd_file({}, resolution, layers_and_image));
    Bytes too_short = psd_file({}, psd_block(1057, "", {0, 0, 0, 1}) + resolution, layers_and_image);
    EXPECT_EQ(reduced_copy(too_short), psd_file({}, resolution, layers_and_image));
}

TEST(Psd, EmptySectionGivesTheSameBytes) {
    Bytes source = psd_file({}, {}, layers_and_image);
    EXPECT_EQ(reduced_copy(source), source);
}

TEST(Psd, OddSizeStaysOddWithItsPadByte) {
    // 1005, empty name, size 5, five data bytes and the pad byte (77, carried as read).
    Bytes odd_kept = {'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0x77};
    // 1036, empty name, size 3, three data bytes and the pad byte.
    Bytes odd_dropped = {'8', 'B', 'I', 'M', 0x04, 0x0C, 0, 0, 0, 0, 0, 3, 7, 8, 9, 0};
    Bytes source = psd_file({}, odd_dropped + odd_kept + odd_dropped + resolution, layers_and_image);
    EXPECT_EQ(reduced_copy(source), psd_file({}, odd_kept + resolution, layers_and_image));
}

TEST(Psd, NamedResourcesAreWalkedWhole) {
    // 1039 named "ab": count 2, "ab", a pad byte to even; size 2.
    Bytes named_ab = {'8', 'B', 'I', 'M', 0x04, 0x0F, 2, 'a', 'b', 0, 0, 0, 0, 2, 0x11, 0x22};
    Bytes section = named_ab, kept = named_ab;
    std::vector<std::string> names = {"", "a", "ab", "abc", "abcd", "abcde", std::string(255, 'n')};
    for (const std::string& name : names) {
        Bytes block = psd_block(1039, name, noise(name.size() + 3, 44));
        section = section + psd_block(1060, name, noise(9, 45)) + block;
        kept = kept + block;
    }
    EXPECT_EQ(reduced_copy(psd_file({}, section, layers_and_image)), psd_file({}, kept, layers_and_image));
}

// Indexed documents keep their palette, duotone documents their curves, as colour mode data.
TEST(Psd, ColourModeDataIsCopiedAndTheSectionBehindItFiltered) {
    for (const Bytes& colour_data : {noise(768, 46), noise(13, 47), thumbnail}) {
        Bytes source = psd_file(colour_data, thumbnail + resolution + xmp, layers_and_image);
        EXPECT_EQ(reduced_copy(source), psd_file(colour_data, resolution, layers_and_image));
    }
}

TEST(Psd, Version2PassesThroughTheSameSteps) {
    Bytes source = psd_file({}, resolution + thumbnail, layers_and_image, 2);
    EXPECT_EQ(reduced_copy(source), psd_file({}, resolution, layers_and_image, 2));
}

TEST(Psd, FilteringTheCopyAgainChangesNothing) {
    Bytes source = psd_file(noise(6, 48), psd_block(1060, "xmp", {1}) + icc + thumbnail, layers_and_image);
    Bytes once = reduced_copy(source);
    EXPECT_EQ(reduced_copy(once), once);
}

// The bulk moves through the WorkBuffer in pieces of 16 MiB; compared whole, not printed.
TEST(Psd, RestOf16MiBAndMoreIsCopiedExactly) {
    for (size_t rest_size : {mib16, mib16 + 12345}) {
        Bytes rest = noise(rest_size, uint32_t(rest_size));
        Bytes copy = reduced_copy(psd_file({}, thumbnail + resolution, rest));
        EXPECT_TRUE(copy == psd_file({}, resolution, rest)) << rest_size;
    }
}

// Blocks larger than the smallest WorkBuffer: measuring them must not read them into it.
TEST(Psd, BlocksLargerThanTheSmallestWorkBufferAreCopiedExactly) {
    release_work_buffer();
    Bytes big_icc = psd_block(1039, "profile", noise(3000001, 49));
    Bytes big_thumbnail = psd_block(1036, "", noise(3000000, 50));
    Bytes copy = reduced_copy(psd_file({}, big_thumbnail + resolution + big_icc, layers_and_image));
    EXPECT_TRUE(copy == psd_file({}, resolution + big_icc, layers_and_image));
}

TEST(Psd, SizeOf2To31OrMoreIsLeftAlone) {
    for (uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        Bytes block = text_bytes("8BIM") + be16(1005) + Bytes{0, 0} + be32(size) + noise(20, 51);
        EXPECT_TRUE(left_alone(reduce(psd_file({}, block, layers_and_image)))) << size;
    }
}

TEST(Psd, BlocksNotEndingAtTheSectionEndAreLeftAlone) {
    Bytes source = psd_file({}, resolution + thumbnail, layers_and_image);
    uint32_t length = uint32_t(resolution.size() + thumbnail.size());
    for (uint32_t wrong : {length - 1, length - 2, length - 12, length + 2, length + 5, length + 12}) {
        Bytes patched = source;
        put_be32(&patched, section_length_at, wrong);
        EXPECT_TRUE(left_alone(reduce(patched))) << wrong;
    }
}

TEST(Psd, NameRunningPastTheSectionIsLeftAlone) {
    Bytes long_name = text_bytes("8BIM") + be16(1005) + Bytes{200} + text_bytes("name") + be32(0) + filled(8, 0);
    EXPECT_TRUE(left_alone(reduce(psd_file({}, resolution + long_name, layers_and_image))));
}

TEST(Psd, SectionOrColourDataRunningPastTheFileIsLeftAlone) {
    Bytes source = psd_file({}, resolution, layers_and_image);
    uint32_t past_the_end = uint32_t(resolution.size() + layers_and_image.size() + 2);
    for (uint32_t wrong : {past_the_end, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        Bytes section_patched = source, colour_patched = source;
        put_be32(&section_patched, section_length_at, wrong);
        put_be32(&colour_patched, section_length_at - 4, wrong);
        EXPECT_TRUE(left_alone(reduce(section_patched))) << wrong;
        EXPECT_TRUE(left_alone(reduce(colour_patched))) << wrong;
    }
}

// Palette, a named kept block with odd data, a dropped block, then the rest.
const Bytes cut_colour = {1, 2, 3, 4};
const Bytes cut_section = psd_block(1005, "ab", {5, 6, 7}) + psd_block(1036, "", {8, 9, 10, 11});
const Bytes cut_rest = noise(6, 52);
const Bytes cut_source = psd_file(cut_colour, cut_section, cut_rest);
const size_t cut_section_end = cut_source.size() - cut_rest.size();

class PsdCut : public testing::TestWithParam<size_t> {};

TEST_P(PsdCut, FileEndingBeforeTheSectionEndIsLeftAlone) {
    EXPECT_TRUE(left_alone(reduce(first_bytes(cut_source, GetParam()))));
}

INSTANTIATE_TEST_SUITE_P(EveryOffset, PsdCut, testing::Range(size_t(0), cut_section_end));

// Nothing tells how long the layer and image data should be: a cut there is a shorter rest.
TEST(Psd, FileEndingInsideTheRestIsCopiedAsItStands) {
    Bytes kept = psd_block(1005, "ab", {5, 6, 7});
    for (size_t cut = cut_section_end; cut < cut_source.size(); cut++) {
        Bytes rest = first_bytes(cut_rest, cut - cut_section_end);
        EXPECT_EQ(reduced_copy(first_bytes(cut_source, cut)), psd_file(cut_colour, kept, rest)) << cut;
    }
}

// The filter reads the source twice, from its start each time: a stream that gives `first` to
// pass 1 and `second` once it is wound back stands for a file that another program saved
// between the passes, by a way around the exclusive handle.
#ifdef __GLIBC__
struct TwoFaces {
    Bytes first, second;
    size_t at;
    bool rewound;
};

static ssize_t read_face(void* cookie, char* to, size_t size) {
    auto* faces = static_cast<TwoFaces*>(cookie);
    const Bytes& bytes = faces->rewound ? faces->second : faces->first;
    size_t n = faces->at < bytes.size() ? std::min(size, bytes.size() - faces->at) : 0;
    memcpy(to, bytes.data() + faces->at, n);
    faces->at += n;
    return ssize_t(n);
}

static int seek_face(void* cookie, off64_t* offset, int whence) {
    auto* faces = static_cast<TwoFaces*>(cookie);
    size_t to = whence == SEEK_SET ? size_t(*offset) : faces->at + size_t(*offset);
    faces->rewound = faces->rewound || (to == 0 && faces->at > 0);
    *offset = off64_t(faces->at = to);
    return 0;
}

static Reduction reduce_changed_between_passes(const Bytes& first, const Bytes& second) {
    TwoFaces faces{first, second, 0, false};
    source_stream = fopencookie(&faces, "rb", {read_face, nullptr, seek_face, nullptr});
    source_size = int32_t(first.size());
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    fclose(source_stream);
    source_stream = nullptr;
    EXPECT_TRUE(faces.rewound);
    return result;
}

TEST(Psd, ASourceChangedBetweenThePassesGivesNoCopy) {
    Bytes kept_small = psd_block(1005, "", noise(16, 60)) + psd_block(1036, "", noise(100, 61));
    Bytes kept_large = psd_block(1036, "", noise(16, 62)) + psd_block(1005, "", noise(100, 63));
    Bytes first = psd_file({}, kept_small, layers_and_image);
    // The same section length with other blocks kept: they would not add up to the new length.
    EXPECT_EQ(reduce_changed_between_passes(first, psd_file({}, kept_large, layers_and_image)), no_copy);
    // A longer rest: the copy would end where the first file ended.
    EXPECT_EQ(reduce_changed_between_passes(first, psd_file({}, kept_small, noise(300, 64))), no_copy);
    // Other lengths in front of the section.
    EXPECT_EQ(reduce_changed_between_passes(first, psd_file({1, 2}, kept_small, first_bytes(layers_and_image, 198))),
              no_copy);
    EXPECT_EQ(reduce_changed_between_passes(first, psd_file({}, kept_small + resolution, layers_and_image)), no_copy);
    EXPECT_EQ(reduce_changed_between_passes(first, first), complete_copy);
}
#endif

}  // namespace
