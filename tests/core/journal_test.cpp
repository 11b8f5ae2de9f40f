// The checksum of a reduced copy and the seal of the journal record: whatever a kill or a
// failing disk does to either must show.
#include <gtest/gtest.h>

#include <algorithm>
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

JournalRecord sealed_record() {
    JournalRecord record;
    memset(&record, 0, sizeof record);
    record.copy_length = 123456;
    record.copy_checksum = 0x1122334455667788ull;
    record.old_size = 123000;
    record.creation_time = 1;
    record.last_write_time = 2;
    record.file_index = 3;
    wcscpy(record.source, L"C:\\photos\\a.jpg");
    seal_journal_record(&record);
    return record;
}

TEST(JournalRecord, ASealedRecordIsSound) { EXPECT_TRUE(journal_record_sound(sealed_record())); }

TEST(JournalRecord, AnyByteChangedMakesItUnsound) {
    const JournalRecord record = sealed_record();
    for (size_t at = 0; at < sizeof record; at++) {
        JournalRecord changed = record;
        reinterpret_cast<unsigned char*>(&changed)[at] ^= 0x01;
        ASSERT_FALSE(journal_record_sound(changed)) << "byte " << at;
    }
}

// A kill while the record is written leaves its first part, and zeros after it.
TEST(JournalRecord, ATornRecordIsUnsound) {
    const JournalRecord record = sealed_record();
    for (size_t kept : {size_t(0), size_t(8), sizeof record / 2, sizeof record - 1}) {
        JournalRecord torn;
        memset(&torn, 0, sizeof torn);
        memcpy(&torn, &record, kept);
        EXPECT_FALSE(journal_record_sound(torn)) << kept << " bytes";
    }
}

// Sealed, yet outside what a real record holds: never believed.
TEST(JournalRecord, BoundsOfARealRecordAreKept) {
    JournalRecord no_end = sealed_record();
    for (wchar_t& c : no_end.source) c = L'x';
    seal_journal_record(&no_end);
    EXPECT_FALSE(journal_record_sound(no_end));
    JournalRecord empty = sealed_record();
    empty.source[0] = L'\0';
    seal_journal_record(&empty);
    EXPECT_FALSE(journal_record_sound(empty));
    JournalRecord huge = sealed_record();
    huge.copy_length = uint64_t(max_copy_size) + 1;
    seal_journal_record(&huge);
    EXPECT_FALSE(journal_record_sound(huge));
    JournalRecord nothing = sealed_record();
    nothing.copy_length = 0;
    seal_journal_record(&nothing);
    EXPECT_FALSE(journal_record_sound(nothing));
}

}  // namespace
