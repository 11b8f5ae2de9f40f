// The checksum of a reduced copy, the seal of the record of a replacement, and the proof by
// content that a file is the source a kill or a power cut left part-way: whatever a kill or a
// failing disk does to the copy or the record must show, and no other file may pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <cstring>
#include <cwchar>

#include "tests/core/fixture.h"

namespace {

uint64_t sum(const Bytes& bytes) { return checksum64(bytes.data(), bytes.size()); }

// Every length from empty to a few lanes past one block, so that each tail path is met.
TEST(Checksum, AnyOneBitChangedAnywhereShows) {
    for (size_t size = 1; size <= 100; size++) {
        Bytes bytes = noise(size, uint32_t(size));
        uint64_t whole = sum(bytes);
        for (size_t at = 0; at < size; at++)
            for (int bit : {0, 7}) {
                Bytes changed = bytes;
                changed[at] ^= uint8_t(1 << bit);
                ASSERT_NE(sum(changed), whole) << "size " << size << ", byte " << at << ", bit " << bit;
            }
    }
}

TEST(Checksum, APageThatNeverReachedTheDiskShows) {
    Bytes copy = noise(3 * 4096, 5);
    Bytes zeroed = copy;
    std::fill(zeroed.begin() + 4096, zeroed.begin() + 8192, 0);
    EXPECT_NE(sum(zeroed), sum(copy));
    EXPECT_NE(sum(filled(4096, 0)), sum(filled(8192, 0)));  // the length counts
}

TEST(Checksum, SwappedBlocksShow) {
    Bytes a = noise(64, 8), b = noise(64, 10);
    ASSERT_NE(a, b);
    EXPECT_NE(sum(a + b), sum(b + a));
}

// Three words of one lane changed by +d, -2d, +d leave both of its sums as they were: the
// checksum tells a torn or lost write, never a forged one, which only the seal refuses.
TEST(Checksum, IsNoDefenceAgainstAPerson) {
    Bytes copy = noise(256, 14);
    Bytes forged = copy;
    auto add = [&forged](size_t word, uint64_t d) {
        uint64_t value;
        memcpy(&value, forged.data() + 8 * word, 8);
        value += d;
        memcpy(forged.data() + 8 * word, &value, 8);
    };
    add(0, 0x1234), add(4, uint64_t(-2 * 0x1234)), add(8, 0x1234);  // words 0, 4, 8: one lane
    ASSERT_NE(forged, copy);
    EXPECT_EQ(sum(forged), sum(copy));
}

// The read-back of a copy sums it piece by piece; the pieces must add up to the whole.
TEST(Checksum, PiecesOfThirtyTwoBytesSumAsTheWhole) {
    Bytes copy = noise(1000, 12);
    for (size_t piece : {size_t(32), size_t(64), size_t(320), size_t(992)}) {
        Checksum sum;
        checksum_start(&sum);
        for (size_t at = 0; at < copy.size(); at += piece)
            checksum_add(&sum, copy.data() + at, std::min(piece, copy.size() - at));
        EXPECT_EQ(checksum_end(sum), checksum64(copy.data(), copy.size())) << piece;
    }
}

// A record of a source of three pieces and a half, laid out as on the disk.
struct Laid {
    Record record;
    std::vector<uint64_t> pieces;
    Bytes bytes;
};

Laid laid_record(const std::u16string& kept = u"") {
    Laid laid{};
    laid.record.copy_length = 12000;
    laid.record.old_size = 3 * piece_bytes + 100;
    laid.record.creation_time = 1;
    laid.record.last_write_time = 2;
    laid.record.source = u"\\\\?\\C:\\photos\\a.jpg";
    laid.record.kept = kept;
    for (size_t i = 0; i < tag_bytes; i++) laid.record.seal[i] = uint8_t(0xA0 + i);
    laid.pieces = {5, 6, 7, 8};
    laid.bytes = record_bytes(laid.record, laid.pieces);
    return laid;
}

bool sound(const Bytes& bytes) {
    Record record;
    std::vector<uint64_t> pieces;
    return read_record_bytes(bytes.data(), bytes.size(), &record, &pieces);
}

uint64_t le(const Bytes& bytes, size_t at, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; i++) value |= uint64_t(bytes[at + i]) << (8 * i);
    return value;
}

// The same bytes in the native and the Windows build: pieces, path units, then the trailer.
TEST(Record, IsLaidOutInFixedWidthFieldsAndUtf16Units) {
    Laid laid = laid_record(u"a (1).jpg");
    const Bytes& b = laid.bytes;
    size_t units = laid.record.source.size(), trailer = 4 * 8 + 2 * (units + 9);
    ASSERT_EQ(b.size(), trailer + trailer_bytes);
    EXPECT_EQ(record_size(laid.record), b.size());
    EXPECT_EQ(le(b, 8, 8), 6u);
    EXPECT_EQ(le(b, 32, 2), uint64_t(u'\\'));
    EXPECT_EQ(le(b, 32 + 2 * units, 2), uint64_t(u'a'));
    EXPECT_EQ(Bytes(b.begin() + trailer, b.begin() + trailer + 8), (Bytes{'b', 'r', 'i', 'n', 'q', 'R', '3', 0}));
    EXPECT_EQ(le(b, trailer + 8, 8), 12000u);
    EXPECT_EQ(le(b, trailer + 16, 8), 3 * piece_bytes + 100);
    EXPECT_EQ(le(b, trailer + 56, 4), units);
    EXPECT_EQ(le(b, trailer + 60, 4), 9u);
    EXPECT_EQ(b[trailer + 104], 0xA0);
    EXPECT_EQ(le(b, trailer + 120, 8), checksum64(b.data(), b.size() - 8));
    EXPECT_EQ(sealed_length(b.size()), trailer + 104);
    EXPECT_EQ(record_length(b.data() + trailer), b.size());
}

TEST(Record, ReadsBackWhatWasLaidOut) {
    Laid laid = laid_record(u"a (1).jpg");
    Record back;
    std::vector<uint64_t> pieces;
    ASSERT_TRUE(read_record_bytes(laid.bytes.data(), laid.bytes.size(), &back, &pieces));
    EXPECT_EQ(record_bytes(back, pieces), laid.bytes);
    EXPECT_EQ(back.source, laid.record.source);
    EXPECT_EQ(back.kept, u"a (1).jpg");
}

TEST(Record, AnyByteChangedMakesItUnsound) {
    const Laid laid = laid_record();
    for (size_t at = 0; at < laid.bytes.size(); at++) {
        Bytes changed = laid.bytes;
        changed[at] ^= 0x01;
        ASSERT_FALSE(sound(changed)) << "byte " << at;
    }
}

// A kill while the record is written leaves its first part, and zeros after it.
TEST(Record, ATornRecordIsUnsound) {
    const Laid laid = laid_record();
    for (size_t kept : {size_t(0), size_t(8), laid.bytes.size() / 2, laid.bytes.size() - 1}) {
        Bytes torn = laid.bytes;
        std::fill(torn.begin() + kept, torn.end(), 0);
        EXPECT_FALSE(sound(torn)) << kept << " bytes";
    }
}

// Laid out whole, yet outside what a real record holds: never believed, whoever sealed it.
TEST(Record, BoundsOfARealRecordAreKept) {
    const std::vector<void (*)(Record*)> changes = {
        [](Record* r) { r->source.clear(); },
        [](Record* r) { r->source = std::u16string(max_path_units + 1, u'x'); },
        [](Record* r) { r->source[3] = u'\0'; },
        [](Record* r) { r->kept = std::u16string(max_name_units + 1, u'x'); },
        [](Record* r) { r->kept = u"..\\report.pdf"; },
        [](Record* r) { r->kept = u"docs/report.pdf"; },
        [](Record* r) { r->kept = u"C:report.pdf"; },
        [](Record* r) { r->kept = u".."; },
        [](Record* r) { r->copy_length = r->old_size + max_growth + 1; },
        [](Record* r) { r->copy_length = 0; },
        [](Record* r) { r->copy_length = r->old_size; },
        [](Record* r) { r->old_size = 0, r->copy_length = 4; },
        [](Record* r) { r->old_size = uint64_t(max_source_size) + 1; },
    };
    for (size_t i = 0; i < changes.size(); i++) {
        Laid laid = laid_record();
        changes[i](&laid.record);
        laid.pieces.resize(size_t(std::min<uint64_t>(pieces_of(laid.record.old_size), 1 << 20)));
        laid.bytes = record_bytes(laid.record, laid.pieces);
        EXPECT_FALSE(sound(laid.bytes)) << "change " << i;
    }
    EXPECT_TRUE(sound(laid_record(u"a (1).jpg").bytes));
    EXPECT_FALSE(bare_name(u"x..y"));
    EXPECT_TRUE(bare_name(u"photo (2).jpg"));
}

// An old source of three pieces and a half, and a copy of `copy_length` bytes of other bytes.
struct Replacing {
    Bytes old, copy;
    Record record;
    std::vector<uint64_t> pieces;
};

Replacing replacing(size_t copy_length) {
    Replacing r{noise(3 * piece_bytes + 100, 21), noise(copy_length, 22), {}, {}};
    r.record = record_of(r.old, r.copy, &r.pieces);
    return r;
}

static bool read_bytes(void* file, uint64_t at, void* to, uint64_t size) {
    const Bytes& now = *static_cast<const Bytes*>(file);
    if (at + size > now.size()) return false;
    memcpy(to, now.data() + at, size_t(size));
    return true;
}

// What a later take checks of a file `now`, through the loop it runs.
bool proven(const Replacing& r, Bytes now) {
    return same_source(r.record, r.pieces.data(), r.copy.data(), now.size(), read_bytes, &now);
}

// The source as a cut left it: the pieces in `written` new (the copy's bytes where it reaches,
// in the very piece it ends in too), the others old, at `size` bytes; bytes past the old
// size that a longer copy grew by are zero when its tail never reached the disk.
Bytes left_by_cut(const Replacing& r, std::vector<bool> written, size_t size, bool tail_written = true) {
    Bytes now = r.old;
    now.resize(std::max({now.size(), r.copy.size(), size}), 0);
    for (size_t piece = 0; piece < written.size(); piece++) {
        size_t start = piece * piece_bytes, end = std::min(start + piece_bytes, r.copy.size());
        if (written[piece] && start < end) std::copy(r.copy.begin() + start, r.copy.begin() + end, now.begin() + start);
    }
    if (tail_written && r.copy.size() > r.old.size())
        std::copy(r.copy.begin() + r.old.size(), r.copy.end(), now.begin() + r.old.size());
    now.resize(size);
    return now;
}

// Every state that writing a shorter copy (ending inside a piece or at a piece's end) or a
// longer one can leave: any pieces old or new, the file at its old size, cut at the copy's
// end, or grown part-way, with or without the grown tail.
TEST(Record, EveryStateACutLeavesIsTheSource) {
    for (size_t copy_length : {size_t(9000), 2 * piece_bytes, 3 * piece_bytes + 118}) {
        Replacing r = replacing(copy_length);
        std::vector<size_t> sizes = {r.old.size(), copy_length};
        if (copy_length > r.old.size()) sizes.push_back(r.old.size() + 7);
        for (unsigned mask = 0; mask < 16; mask++) {
            std::vector<bool> written = {bool(mask & 1), bool(mask & 2), bool(mask & 4), bool(mask & 8)};
            for (size_t size : sizes)
                for (bool tail : {false, true})
                    EXPECT_TRUE(proven(r, left_by_cut(r, written, size, tail)))
                        << "copy " << copy_length << ", pieces " << mask << ", size " << size;
        }
    }
}

// Another photo at the same path: whatever its size, one byte that is neither old nor new
// anywhere up to the old size refuses it, as does a size that no cut leaves.
TEST(Record, NoOtherFileIsTheSource) {
    for (size_t copy_length : {size_t(9000), 3 * piece_bytes + 118}) {
        Replacing r = replacing(copy_length);
        Bytes half = left_by_cut(r, {true, false, true, false}, r.old.size());
        for (size_t at = 0; at < r.old.size(); at += 997) {
            Bytes other = half;
            other[at] ^= 0x20;
            EXPECT_FALSE(proven(r, other)) << "copy " << copy_length << ", byte " << at;
        }
        for (size_t size : {size_t(0), size_t(100), r.old.size() - 1, r.old.size() + 200})
            EXPECT_FALSE(proven(r, left_by_cut(r, {}, size))) << "copy " << copy_length << ", size " << size;
    }
}

}  // namespace
