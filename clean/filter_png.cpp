// PNG: copies the chunks in order without iCCP, pHYs and cHRM, and ends with IEND.
#include "clean/clean.h"

#include <cstring>

constexpr uint32_t max_chunk_length = 0x7FFFFFFF;  // the PNG limit, 2^31 - 1
constexpr int64_t signature_size = 8;
constexpr int64_t chunk_overhead = 12;             // length, type and CRC

static bool type_is(const unsigned char* type, const char* name) {
    return memcmp(type, name, 4) == 0;
}

static bool is_dropped(const unsigned char* type) {
    return type_is(type, "iCCP")    // embedded colour profile
        || type_is(type, "pHYs")    // physical pixel size
        || type_is(type, "cHRM");   // chromaticities
}

// One chunk read to the copy's end: header, data and CRC read in one piece each, and kept there
// unless it is dropped. Sets *last when the chunk was IEND or ended the file.
static bool copy_chunk(int64_t* consumed, bool* last) {
    unsigned char* b = copy_end();
    int64_t left = source_size - *consumed;
    if (left < chunk_overhead || !copy_has_room(chunk_overhead)) return false;  // stray bytes, or a cut-off chunk header
    if (!read_block(b, 8)) return false;
    uint32_t length = read_be32(b);
    if (length > max_chunk_length) return false;
    int64_t total = int64_t(length) + chunk_overhead;
    if (total > left || !copy_has_room(total)) return false;
    if (!read_block(b + 8, length + 4)) return false;
    if (!is_dropped(b + 4) && !write_block(b, uint32_t(total))) return false;
    *consumed += total;
    *last = *consumed == source_size || type_is(b + 4, "IEND");
    return true;
}

bool filter_png() {
    start_copy();
    unsigned char* b = work_buffer.data;
    bool ok = read_block(b + 4, 4) && write_block(b, signature_size);
    int64_t consumed = signature_size;
    bool last = false;
    while (ok && !last) ok = copy_chunk(&consumed, &last);
    // A copy without a single chunk is no image, and it would not clean to itself.
    return ok && copy_size > signature_size;
}
