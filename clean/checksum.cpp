// The checksum of a reduced copy and the seal of the journal record that names it.
#include "clean/clean.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>

// Four lanes of a running sum and a sum of running sums over 8-byte words: two additions per
// word, so it runs at memory speed. Any byte changed, lost or zeroed changes the first sum or,
// for bytes that moved, the second; the end mixes both with the length, so that neighbouring
// inputs end far apart.
static constexpr uint64_t prime1 = 0x9E3779B185EBCA87ull;
static constexpr uint64_t prime2 = 0xC2B2AE3D27D4EB4Full;

static uint64_t load64(const unsigned char* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

static uint64_t mix(uint64_t hash, uint64_t value) {
    hash = (hash ^ value) * prime1;
    return hash ^ (hash >> 29);
}

// Plain locals rather than arrays, so that the sums stay in registers.
uint64_t checksum64(const unsigned char* data, size_t size) {
    uint64_t a0 = 1, a1 = 2, a2 = 3, a3 = 4, b0 = 0, b1 = 0, b2 = 0, b3 = 0;
    size_t at = 0;
    for (; at + 32 <= size; at += 32) {
        b0 += a0 += load64(data + at);
        b1 += a1 += load64(data + at + 8);
        b2 += a2 += load64(data + at + 16);
        b3 += a3 += load64(data + at + 24);
    }
    uint64_t hash = mix(prime2, uint64_t(size));
    for (uint64_t sum : {a0, b0, a1, b1, a2, b2, a3, b3}) hash = mix(hash, sum);
    // The last few bytes are mixed in one by one.
    for (; at < size; at++) hash = mix(hash, data[at] + (uint64_t(at & 31) << 8));
    return mix(hash, prime2);
}

static const char record_magic[8] = {'b', 'r', 'i', 'n', 'q', 'J', '1', '\0'};

static uint64_t record_sum(const JournalRecord& record) {
    return checksum64(reinterpret_cast<const unsigned char*>(&record), offsetof(JournalRecord, record_checksum));
}

void seal_journal_record(JournalRecord* record) {
    memcpy(record->magic, record_magic, sizeof record_magic);
    record->record_checksum = record_sum(*record);
}

bool journal_record_sound(const JournalRecord& record) {
    if (memcmp(record.magic, record_magic, sizeof record_magic) != 0) return false;
    if (record.record_checksum != record_sum(record)) return false;
    // Bounds a sound record holds anyway; a copy never outgrows the source by much.
    bool ends = false;
    for (wchar_t c : record.source) ends = ends || c == L'\0';
    return ends && record.source[0] != L'\0' && record.old_size <= uint64_t(max_source_size) &&
           record.copy_length > 0 && record.copy_length <= uint64_t(max_copy_size);
}
