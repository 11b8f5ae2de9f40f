// The checksum of a reduced copy, of each piece of a source, and of the record of a replacement.
#include "clean/clean.h"

#include <cstring>

// Four lanes of a running sum and a sum of running sums over 8-byte words: two additions per
// word, so it runs at the speed of memory, and of the cache when each piece is summed right
// after it was read. Any byte changed, lost or zeroed changes the first sum or, for bytes that
// moved, the second; the end mixes both with the length, so that neighbouring inputs end far
// apart.
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

void checksum_start(Checksum* sum) { *sum = {{1, 2, 3, 4}, {0, 0, 0, 0}, prime2, 0}; }

// Plain locals rather than the record's arrays, so that the sums stay in registers.
void checksum_add(Checksum* sum, const unsigned char* data, size_t size) {
    uint64_t a0 = sum->sums[0], a1 = sum->sums[1], a2 = sum->sums[2], a3 = sum->sums[3];
    uint64_t b0 = sum->sums_of_sums[0], b1 = sum->sums_of_sums[1], b2 = sum->sums_of_sums[2],
             b3 = sum->sums_of_sums[3];
    size_t at = 0;
    for (; at + 32 <= size; at += 32) {
        b0 += a0 += load64(data + at);
        b1 += a1 += load64(data + at + 8);
        b2 += a2 += load64(data + at + 16);
        b3 += a3 += load64(data + at + 24);
    }
    *sum = {{a0, a1, a2, a3}, {b0, b1, b2, b3}, sum->hash, sum->length + at};
    // A last piece's few bytes beyond the lanes, one by one with their places.
    for (; at < size; at++, sum->length++) sum->hash = mix(sum->hash, data[at] + (sum->length << 8));
}

uint64_t checksum_end(const Checksum& sum) {
    uint64_t hash = mix(sum.hash, sum.length);
    for (int i = 0; i < 4; i++) hash = mix(mix(hash, sum.sums[i]), sum.sums_of_sums[i]);
    return mix(hash, prime2);
}

uint64_t checksum64(const unsigned char* data, size_t size) {
    Checksum sum;
    checksum_start(&sum);
    checksum_add(&sum, data, size);
    return checksum_end(sum);
}
