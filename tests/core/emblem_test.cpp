// The Emblem decoder and lookup: the code table, the stored record, malformed records, PE files.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/core/emblem_fixture.h"

// Decodes a record of exactly its own bytes (no slack behind it, so a stray read is seen).
static bool decode(const Bytes& stored, Emblem* emblem) {
    auto* copy = new unsigned char[stored.size()];
    memcpy(copy, stored.data(), stored.size());
    bool ok = decode_emblem(copy, uint32_t(stored.size()), emblem);
    delete[] copy;
    return ok;
}

// Packed bytes as the alpha values they stand for: low nibble first, each nibble times 17.
static Bytes alpha_of(const Bytes& packed) {
    Bytes alpha;
    for (unsigned char b : packed) {
        alpha.push_back(uint8_t((b & 0x0F) * 17));
        alpha.push_back(uint8_t((b >> 4) * 17));
    }
    return alpha;
}

struct CodeCase {
    Bytes stream;
    Bytes packed;  // what the stream stands for
};

// Each code is followed by the literal step 81 5A, whose place shows how much the code put out.
TEST(EmblemDecoder, CodeTable) {
    const CodeCase cases[] = {
        {{0x03}, {0x00, 0x00, 0x00}},
        {{0x42}, {0xFF, 0xFF}},
        {{0x83, 0x12, 0x34, 0x56}, {0x12, 0x34, 0x56}},
        {{0xC2, 0x7A}, {0x00, 0x00, 0x7A}},
        {{0xD1, 0x7A, 0x7B}, {0x00, 0x7A, 0x7B}},
        {{0xE3, 0x10}, {0xFF, 0xFF, 0xFF, 0x10}},
        {{0xF0, 0x10, 0x20}, {0x10, 0x20}},
        {{0x80}, {}},
        {{0x3F}, filled(63, 0x00)},
        {{0x7F}, filled(63, 0xFF)},
    };
    for (const CodeCase& c : cases) {
        Bytes packed = c.packed + Bytes{0x5A};
        Emblem emblem{};
        ASSERT_TRUE(decode(stored_record(uint32_t(packed.size() * 2), 1, c.stream + Bytes{0x81, 0x5A}), &emblem));
        EXPECT_EQ(emblem.alpha, alpha_of(packed)) << "stream starting " << int(c.stream[0]);
    }
}

TEST(EmblemDecoder, NibblesLowFirst) {
    Emblem emblem{};
    ASSERT_TRUE(decode(stored_record(6, 1, {0x83, 0x5A, 0x00, 0xFF}), &emblem));
    EXPECT_EQ(emblem.alpha, (Bytes{170, 85, 0, 0, 255, 255}));
}

// Fillers are set to codes that would change the output if they reached the decoder.
TEST(EmblemDecoder, FillersNeverReachTheDecoder) {
    Bytes literals;
    for (int i = 0; i < 189; i++) literals.push_back(uint8_t(0x11 + i % 200));
    Bytes stream;
    for (size_t at = 0; at < literals.size(); at += 63)
        stream = stream + Bytes{0xBF} + Bytes(literals.begin() + at, literals.begin() + at + 63);
    Bytes stored = stored_record(378, 1, stream, 0x7F);
    ASSERT_EQ(stored[47], 0x7F);
    ASSERT_EQ(stored[95], 0x7F);
    ASSERT_EQ(stored[143], 0x7F);
    Emblem emblem{};
    ASSERT_TRUE(decode(stored, &emblem));
    EXPECT_EQ(emblem.alpha, alpha_of(literals));
}

TEST(EmblemDecoder, CommittedRecordGivesThePicture) {
    uint32_t width = 0, height = 0;
    Bytes picture = emblem_picture(&width, &height);
    ASSERT_EQ(width, 60u);
    ASSERT_EQ(height, 50u);
    Bytes stored = committed_record();
    ASSERT_EQ(stored.size() % 48, 0u);
    ASSERT_LE(stored.size(), emblem_record_read);
    EXPECT_EQ(stored[0], 'R');
    EXPECT_EQ(stored[1], 'L');
    Emblem emblem{};
    ASSERT_TRUE(decode(stored, &emblem));
    EXPECT_EQ(emblem.width, 60u);
    EXPECT_EQ(emblem.height, 50u);
    EXPECT_EQ(emblem.alpha, picture);
}

// The stream ends exactly at its length: one byte less leaves the last packed byte unwritten.
TEST(EmblemDecoder, StreamEndsAtItsLength) {
    Bytes content_stream = {0x42, 0x81, 0x5A};
    Bytes stored = stored_record(6, 1, content_stream);
    stored[8] = 2;  // stream length 2: the literal step is cut off, so refused
    Emblem emblem{};
    EXPECT_FALSE(decode(stored, &emblem));
    stored = stored_record(6, 1, {0x42}) + Bytes{0x81, 0x5A};  // code bytes behind the stream are not read
    ASSERT_TRUE(decode(stored, &emblem));
    EXPECT_EQ(emblem.alpha, (Bytes{255, 255, 255, 255, 0, 0}));
}

TEST(EmblemDecoder, MalformedRecordsAreRefused) {
    Emblem emblem{};
    Bytes good = stored_record(4, 1, {0x42});
    ASSERT_TRUE(decode(good, &emblem));

    Bytes tag = good;
    tag[0] = 'Q';
    EXPECT_FALSE(decode(tag, &emblem)) << "tag not R";
    EXPECT_FALSE(decode(Bytes(good.begin(), good.begin() + 11), &emblem)) << "header cut short";
    EXPECT_FALSE(decode(stored_record(3, 1, {0x42}), &emblem)) << "odd pixel count";
    EXPECT_FALSE(decode(stored_record(0, 8, {}), &emblem)) << "no pixels";
    EXPECT_FALSE(decode(stored_record(65535, 65535, {0x42}), &emblem)) << "too many pixels";
    EXPECT_FALSE(decode(stored_record(4, 1, {0x43}), &emblem)) << "run past the picture";
    EXPECT_FALSE(decode(stored_record(4, 1, {0x83, 0x11, 0x22}), &emblem)) << "literals past the picture";
    EXPECT_FALSE(decode(stored_record(8, 1, {0x83, 0x11}), &emblem)) << "literals past the stream";
    EXPECT_FALSE(decode(stored_record(8, 1, {0xF0, 0x11}), &emblem)) << "two-level literals past the stream";

    Bytes long_stream = good;
    long_stream[8] = 0xFF;  // stream length far beyond the bytes read
    long_stream[11] = 0x7F;
    EXPECT_FALSE(decode(long_stream, &emblem)) << "stream longer than what was read";
    Bytes just_longer = stored_record(4, 1, {0x42});
    just_longer[8] = 2;
    EXPECT_FALSE(decode(just_longer, &emblem)) << "stream one byte longer than what was read";
    EXPECT_EQ(emblem.width, 4u) << "a refused record leaves the picture as it was";
}

TEST(EmblemBlend, WhiteOverTheCanvas) {
    EXPECT_EQ(blend_white(0x303030, 255), 0xFFFFFFu);
    EXPECT_EQ(blend_white(0x303030, 0), 0x303030u);
    EXPECT_EQ(blend_white(0x303030, 136), 0x9F9F9Fu);
    // channels apart: v + a - v * a / 255 each
    EXPECT_EQ(blend_white(0x0080FF, 68), uint32_t((68 + 0x00) << 16 | (68 + 0x80 - 0x80 * 68 / 255) << 8 | 0xFF));
}

// A PE-like file: DOS header pointing at "PE", a COFF header, an optional header of the
// machine's standard size, section headers (the read-only data one at index rdata_index),
// and that section's raw data at 0x400 with the marker at window position marker_at.
struct PeShape {
    uint16_t machine = 0x8664;
    int rdata_index = 1;
    uint32_t marker_at = 100;
    uint32_t record_offset = 0x700;
    unsigned char tag = 'R';
};

static Bytes pe_file(const PeShape& shape) {
    const uint32_t raw = 0x400;
    Bytes file = text_bytes("MZ") + filled(58, 0) + le32(64);
    file = file + text_bytes("PE") + le16(0) + le16(shape.machine) + le16(7) + filled(16, 0);
    file = file + filled(shape.machine == 0x8664 ? 240 : 224, 0);
    for (int k = 0; k < 7; k++) {
        Bytes name = text_bytes(k == shape.rdata_index ? ".rdata" : ".text");
        name.resize(8, 0);
        uint32_t pointer = k == shape.rdata_index ? raw : 0x200;
        file = file + name + filled(12, 0) + le32(pointer) + filled(16, 0);
    }
    file.resize(raw + 0x800 + 1000, 0);
    Bytes marker = Bytes{0x84, 0x50, 0x76, 0x00} + le32(shape.record_offset);
    std::copy(marker.begin(), marker.end(), file.begin() + raw + 40 + shape.marker_at);
    Bytes record = stored_record(4, 1, {0x42});
    record[0] = shape.tag;
    if (shape.record_offset < 0x800) std::copy(record.begin(), record.end(), file.begin() + raw + shape.record_offset);
    return file;
}

static uint32_t look_up(const PeShape& shape, unsigned char* first = nullptr) {
    auto path = scratch_folder() / "brinq.exe";
    write_file(path, pe_file(shape));
    Bytes scan(emblem_scan_size, 0);
    uint32_t got = read_emblem_record(path.string().c_str(), scan.data());
    if (first) *first = scan[0];
    return got;
}

TEST(EmblemLookup, MarkerPositionsInTheWindow) {
    unsigned char first = 0;
    EXPECT_EQ(look_up({0x8664, 1, 1}, &first), 1000u);  // the file goes on behind the record
    EXPECT_EQ(first, 'R');
    EXPECT_EQ(look_up({0x8664, 1, 1499}), 1000u);
    EXPECT_EQ(look_up({0x8664, 1, 0}), 0u);
    EXPECT_EQ(look_up({0x8664, 1, 1500}), 0u);
}

TEST(EmblemLookup, HeadersAndTag) {
    EXPECT_EQ(look_up({0x014C, 1}), 1000u) << "32-bit image, smaller optional header";
    EXPECT_EQ(look_up({0x8664, 5}), 1000u) << "sixth section header";
    EXPECT_EQ(look_up({0x8664, 6}), 0u) << "seventh section header is not searched";
    EXPECT_EQ(look_up({0x8664, 1, 100, 0x700, 'Q'}), 0u) << "tag not R";
    EXPECT_EQ(look_up({0x8664, 1, 100, 0x7FFFFFF0}), 0u) << "offset past the file";
}

TEST(EmblemLookup, ShortOrMissingFiles) {
    Bytes scan(emblem_scan_size, 0);
    auto folder = scratch_folder();
    EXPECT_EQ(read_emblem_record((folder / "none.exe").string().c_str(), scan.data()), 0u);
    Bytes whole = pe_file({});
    for (size_t size : {size_t(10), size_t(70), size_t(300), size_t(0x450)}) {
        write_file(folder / "cut.exe", Bytes(whole.begin(), whole.begin() + size));
        EXPECT_EQ(read_emblem_record((folder / "cut.exe").string().c_str(), scan.data()), 0u) << size;
    }
}
