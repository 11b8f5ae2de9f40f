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
    EXPECT_EQ(sum(a + b), sum(a + b));
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

// A record of a source of three pieces and a half, and the sums of its pieces.
struct Sealed {
    RecordTail tail;
    std::vector<uint64_t> pieces;
};

Sealed sealed_record() {
    Sealed record;
    memset(&record.tail, 0, sizeof record.tail);
    record.tail.copy_length = 12000;
    record.tail.copy_checksum = 0x1122334455667788ull;
    record.tail.old_size = 3 * piece_bytes + 100;
    record.tail.creation_time = 1;
    record.tail.last_write_time = 2;
    wcscpy(record.tail.source, L"C:\\photos\\a.jpg");
    record.pieces = {5, 6, 7, 8};
    seal_record(&record.tail, record.pieces.data());
    return record;
}

bool sound(const Sealed& record) {
    return record_sound(record.tail) && pieces_sound(record.tail, record.pieces.data());
}

TEST(Record, ASealedRecordIsSound) { EXPECT_TRUE(sound(sealed_record())); }

TEST(Record, AnyByteChangedMakesItUnsound) {
    const Sealed record = sealed_record();
    for (size_t at = 0; at < sizeof record.tail; at++) {
        Sealed changed = record;
        reinterpret_cast<unsigned char*>(&changed.tail)[at] ^= 0x01;
        ASSERT_FALSE(sound(changed)) << "byte " << at;
    }
    for (size_t at = 0; at < record.pieces.size() * 8; at++) {
        Sealed changed = record;
        reinterpret_cast<unsigned char*>(changed.pieces.data())[at] ^= 0x80;
        ASSERT_FALSE(sound(changed)) << "byte " << at << " of the pieces";
    }
}

// A kill while the record is written leaves its first part, and zeros after it.
TEST(Record, ATornRecordIsUnsound) {
    const Sealed record = sealed_record();
    for (size_t kept : {size_t(0), size_t(8), sizeof record.tail / 2, sizeof record.tail - 1}) {
        Sealed torn = record;
        memset(reinterpret_cast<unsigned char*>(&torn.tail) + kept, 0, sizeof torn.tail - kept);
        EXPECT_FALSE(sound(torn)) << kept << " bytes";
    }
}

// Sealed, yet outside what a real record holds: never believed.
TEST(Record, BoundsOfARealRecordAreKept) {
    const std::vector<void (*)(RecordTail*)> changes = {
        [](RecordTail* t) { for (wchar_t& c : t->source) c = L'x'; },
        [](RecordTail* t) { for (wchar_t& c : t->kept) c = L'x'; },
        [](RecordTail* t) { t->source[0] = L'\0'; },
        [](RecordTail* t) { t->copy_length = uint64_t(max_copy_size) + 1; },
        [](RecordTail* t) { t->copy_length = 0; },
        [](RecordTail* t) { t->copy_length = t->old_size; },
    };
    for (size_t i = 0; i < changes.size(); i++) {
        Sealed record = sealed_record();
        changes[i](&record.tail);
        seal_record(&record.tail, record.pieces.data());
        EXPECT_FALSE(sound(record)) << "change " << i;
    }
}

// An old source of three pieces and a half, and a copy of `copy_length` bytes of other bytes.
struct Replacing {
    Bytes old, copy;
    Sealed record;
};

Replacing replacing(size_t copy_length) {
    Replacing r{noise(3 * piece_bytes + 100, 21), noise(copy_length, 22), {}};
    r.record.tail = record_of(r.old, r.copy, &r.record.pieces);
    return r;
}

// What a later start checks of a file `now`: its size, then each piece it holds up to the old size.
bool proven(const Replacing& r, const Bytes& now) {
    const RecordTail& tail = r.record.tail;
    if (!size_left_by_replacement(tail, now.size())) return false;
    size_t checked = std::min<size_t>(now.size(), tail.old_size);
    for (size_t at = 0; at < checked; at += piece_bytes)
        if (!piece_left_by_replacement(tail, r.record.pieces.data(), r.copy.data(), at / piece_bytes, now.data() + at,
                                       std::min(piece_bytes, checked - at)))
            return false;
    return true;
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
