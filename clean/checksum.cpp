// The checksum of a reduced copy and the seal of the journal record that names it.
#include "clean/clean.h"

#include <cstddef>
#include <cstring>

// Four independent lanes of one multiply per 8 bytes: it runs at memory speed, and any byte
// changed, lost or zeroed anywhere changes the sum with all but negligible odds.
static constexpr uint64_t prime1 = 0x9E3779B185EBCA87ull;
static constexpr uint64_t prime2 = 0xC2B2AE3D27D4EB4Full;

static uint64_t rotl(uint64_t v, int bits) { return (v << bits) | (v >> (64 - bits)); }

static uint64_t load64(const unsigned char* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

static uint64_t mix(uint64_t lane, uint64_t word) { return rotl(lane + word * prime2, 31) * prime1; }

uint64_t checksum64(const unsigned char* data, size_t size) {
    uint64_t lanes[4] = {prime1, prime2, ~prime1, ~prime2};
    size_t at = 0;
    for (; at + 32 <= size; at += 32)
        for (int i = 0; i < 4; i++) lanes[i] = mix(lanes[i], load64(data + at + 8 * i));
    uint64_t sum = uint64_t(size) * prime1;
    for (int i = 0; i < 4; i++) sum = mix(sum ^ rotl(lanes[i], 7 * i + 1), lanes[i]);
    for (; at + 8 <= size; at += 8) sum = mix(sum, load64(data + at));
    for (; at < size; at++) sum = mix(sum, data[at]);
    // The final avalanche, so that neighbouring inputs end far apart.
    sum ^= sum >> 33;
    sum *= prime2;
    sum ^= sum >> 29;
    return sum;
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
