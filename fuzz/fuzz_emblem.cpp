// The Emblem decoder on any stored record: it never reads or writes outside its buffers, and a
// record it accepts gives one alpha value, a multiple of 17, per pixel of an even-sized picture.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "emblem/emblem.h"

static void require(bool promise, const char* what) {
    if (promise) return;
    fprintf(stderr, "broken promise: %s\n", what);
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > emblem_record_read) return -1;  // the lookup never hands over more
    Emblem emblem{};
    if (!decode_emblem(data, uint32_t(size), &emblem)) return 0;
    uint64_t pixels = uint64_t(emblem.width) * emblem.height;
    require(pixels > 0 && pixels % 2 == 0, "an even, non-empty picture");
    require(emblem.alpha.size() == pixels, "one alpha value per pixel");
    for (unsigned char a : emblem.alpha) require(a % 17 == 0, "alpha from a nibble");
    Emblem again{};
    require(decode_emblem(data, uint32_t(size), &again) && again.alpha == emblem.alpha, "decoding is repeatable");
    return 0;
}
