// JPEG: a complete copy never grows but by the fixed JFIF segment that takes the place of a
// dropped leading segment, and cleans to itself.
#include "fuzz/harness.h"

#include <cstring>

constexpr size_t fixed_jfif = 18;  // FF E0, length 16, "JFIF" 00, version, density, no thumbnail

// How much longer the copy may be: the fixed segment minus the leading segment it replaces. A
// complete copy has read that segment's length.
static size_t allowed_growth(const Bytes& source) {
    size_t leading = 2 + (uint32_t(source[4]) << 8 | source[5]);
    return leading < fixed_jfif ? fixed_jfif - leading : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || memcmp(data, "\xFF\xD8\xFF", 3) != 0) return -1;
    Bytes source(data, data + size);
    Bytes copy;
    if (reduce_bytes(source, &copy) != complete_copy) return 0;
    require(copy.size() >= 4 && memcmp(copy.data(), "\xFF\xD8", 2) == 0, "a copy starts with SOI and a segment");
    if (copy[2] == 0xFF && starts_jpeg(copy[3])) {
        check_size_and_idempotence(source, copy, allowed_growth(source));
        return 0;
    }
    // An RGB-coded copy gets no JFIF segment in front of what the walk kept first; where that can
    // begin no JPEG (DNL, DHP, EXP, JPG, 00, no marker), the copy is left alone when cleaned again.
    Bytes again;
    require(copy.size() <= source.size() && reduce_bytes(copy, &again) == not_recognised, "a copy is left as it is");
    return 0;
}
