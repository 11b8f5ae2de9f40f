// The Emblem decoder and lookup: the code table, the stored record, malformed records, PE files.
#include <gtest/gtest.h>

#include "tests/core/emblem_fixture.h"

// Decodes from a heap copy of exactly the record's size, so that a stray read shows.
static bool decode(const Bytes& stored, Emblem* emblem) {
    Bytes copy(stored);
    return decode_emblem(copy.data(), uint32_t(copy.size()), emblem);
}

// Packed bytes as alpha: low nibble first, each nibble times 17.
static Bytes alpha_of(const Bytes& packed) {
    Bytes alpha;
    for (unsigned char b : packed) alpha = alpha + Bytes{uint8_t((b & 15) * 17), uint8_t((b >> 4) * 17)};
    return alpha;
}

// Each code is followed by the literal step 81 5A, whose place shows how much the code put out.
TEST(EmblemDecoder, CodeTable) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{0x03}, {0, 0, 0}}, {{0x42}, {0xFF, 0xFF}}, {{0x83, 0x12, 0x34, 0x56}, {0x12, 0x34, 0x56}},
        {{0xC2, 0x7A}, {0, 0, 0x7A}}, {{0xD1, 0x7A, 0x7B}, {0, 0x7A, 0x7B}}, {{0xE3, 0x10}, {0xFF, 0xFF, 0xFF, 0x10}},
        {{0xF0, 0x10, 0x20}, {0x10, 0x20}}, {{0x80}, {}}, {{0x3F}, filled(63, 0)}, {{0x7F}, filled(63, 0xFF)},
    };
    for (const auto& [stream, packed] : cases) {
        Emblem emblem{};
        Bytes expected = packed + Bytes{0x5A};
        ASSERT_TRUE(decode(stored_record(uint32_t(expected.size() * 2), 1, stream + Bytes{0x81, 0x5A}), &emblem));
        EXPECT_EQ(emblem.alpha, alpha_of(expected)) << "code " << int(stream[0]);
    }
    Emblem emblem{};
    ASSERT_TRUE(decode(stored_record(6, 1, {0x83, 0x5A, 0x00, 0xFF}), &emblem));
    EXPECT_EQ(emblem.alpha, (Bytes{170, 85, 0, 0, 255, 255}));
}

// Fillers are set to a code that would change the output if it reached the decoder.
TEST(EmblemDecoder, FillersNeverReachTheDecoder) {
    Bytes literals, stream;
    for (int i = 0; i < 189; i++) literals.push_back(uint8_t(0x11 + i));
    for (size_t at = 0; at < 189; at += 63) stream = stream + Bytes{0xBF} + Bytes(&literals[at], &literals[at] + 63);
    Bytes stored = stored_record(378, 1, stream, 0x7F);
    ASSERT_EQ(stored[47] & stored[95] & stored[143], 0x7F);
    Emblem emblem{};
    ASSERT_TRUE(decode(stored, &emblem));
    EXPECT_EQ(emblem.alpha, alpha_of(literals));
}

TEST(EmblemDecoder, CommittedRecordGivesThePicture) {
    Bytes stored = committed_record();
    ASSERT_LE(stored.size(), emblem_record_read);
    Emblem emblem{};
    ASSERT_TRUE(decode(stored, &emblem));
    EXPECT_EQ(emblem.width, 60u);
    EXPECT_EQ(emblem.height, 50u);
    EXPECT_EQ(emblem.alpha, emblem_picture());
}

TEST(EmblemDecoder, MalformedRecordsAreRefused) {
    Bytes tag = stored_record(4, 1, {0x42}), cut = tag, long_stream = tag;
    tag[0] = 'Q';
    cut[8] = 2;                 // one stream byte more than was read
    long_stream[11] = 0x7F;     // far more
    const std::pair<const char*, Bytes> cases[] = {
        {"tag not R", tag}, {"header cut short", Bytes(11, 'R')}, {"stream past the read", cut},
        {"stream far past the read", long_stream}, {"odd pixel count", stored_record(3, 1, {0x42})},
        {"no pixels", stored_record(0, 8, {})}, {"too many pixels", stored_record(65535, 65535, {0x42})},
        {"run past the picture", stored_record(4, 1, {0x43})},
        {"literals past the picture", stored_record(4, 1, {0x83, 1, 2})},
        {"literals past the stream", stored_record(8, 1, {0x83, 0x11})},
        {"two-level literals past the stream", stored_record(8, 1, {0xF0, 0x11})},
    };
    for (const auto& [name, stored] : cases) {
        Emblem emblem{7, 7, {}};
        EXPECT_FALSE(decode(stored, &emblem)) << name;
        EXPECT_EQ(emblem.width, 7u) << name;
    }
}

TEST(EmblemBlend, WhiteOverTheCanvas) {
    EXPECT_EQ(blend_white(0x303030, 255), 0xFFFFFFu);
    EXPECT_EQ(blend_white(0x303030, 0), 0x303030u);
    EXPECT_EQ(blend_white(0x303030, 136), 0x9F9F9Fu);
    EXPECT_EQ(blend_white(0x0080FF, 68), uint32_t(68 << 16 | (68 + 128 - 128 * 68 / 255) << 8 | 255));
}

// The record of the executable at `path`, opened the way the program opens its own.
static uint32_t record_in(const std::filesystem::path& path, unsigned char* scan) {
    FILE* exe = fopen(path.string().c_str(), "rb");
    if (!exe) return 0;
    uint32_t got = read_emblem_record(exe, scan);
    fclose(exe);
    return got;
}

// A PE-like file: "MZ" header, "PE" and COFF header, optional header of the machine's size,
// seven section headers (read-only data at index rdata), raw data at 0x400 with the marker
// at window position marker and the record at offset 0x700.
static uint32_t look_up(uint16_t machine, int rdata, uint32_t marker, unsigned char tag = 'R', uint32_t offset = 0x700) {
    Bytes file = text_bytes("MZ") + filled(58, 0) + le32(64) + text_bytes("PE") + le16(0) + le16(machine) + le16(7)
               + filled(16 + (machine == 0x8664 ? 240 : 224), 0);
    for (int k = 0; k < 7; k++) {
        Bytes name = text_bytes(k == rdata ? ".rdata" : ".text");
        name.resize(8, 0);
        file = file + name + filled(12, 0) + le32(k == rdata ? 0x400 : 0x200) + filled(16, 0);
    }
    file.resize(0x400 + 0x800 + 1000, 0);
    Bytes record = stored_record(4, 1, {0x42}), found = Bytes{0x84, 0x50, 0x76, 0} + le32(offset);
    record[0] = tag;
    std::copy(found.begin(), found.end(), file.begin() + 0x400 + 40 + marker);
    std::copy(record.begin(), record.end(), file.begin() + 0x400 + 0x700);
    auto path = scratch_folder() / "brinq.exe";
    write_file(path, file);
    Bytes scan(emblem_scan_size, 0);
    uint32_t got = record_in(path, scan.data());
    return got == 0 || scan[0] == 'R' ? got : 0xBAD;
}

TEST(EmblemLookup, MarkerRecordAndHeaders) {
    EXPECT_EQ(look_up(0x8664, 1, 1), 1000u);
    EXPECT_EQ(look_up(0x8664, 1, 1499), 1000u);
    EXPECT_EQ(look_up(0x8664, 1, 0), 0u) << "window position 0 is not searched";
    EXPECT_EQ(look_up(0x8664, 1, 1500), 0u);
    EXPECT_EQ(look_up(0x014C, 1, 9), 1000u) << "32-bit image";
    EXPECT_EQ(look_up(0x8664, 5, 9), 1000u) << "sixth section header";
    EXPECT_EQ(look_up(0x8664, 6, 9), 0u) << "seventh section header";
    EXPECT_EQ(look_up(0x8664, 1, 9, 'Q'), 0u) << "tag not R";
    EXPECT_EQ(look_up(0x8664, 1, 9, 'R', 0x7FFFFFF0), 0u) << "offset past the file";
}

TEST(EmblemLookup, ShortOrMissingFiles) {
    Bytes scan(emblem_scan_size, 0);
    auto path = scratch_folder() / "cut.exe";
    write_file(path, {});
    EXPECT_EQ(record_in(path, scan.data()), 0u);
    for (size_t size : {10, 70, 300}) {
        write_file(path, text_bytes("MZ") + filled(58, 0) + le32(64) + filled(size, 0x64));
        EXPECT_EQ(record_in(path, scan.data()), 0u) << size;
    }
}
