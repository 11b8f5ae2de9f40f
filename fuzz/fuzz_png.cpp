// PNG: a complete copy is the signature and the source's chunks in order, without iCCP,
// pHYs and cHRM, up to IEND or the end of the file.
#include "fuzz/harness.h"

#include <cstring>

static bool dropped(const uint8_t* type) {
    return memcmp(type, "iCCP", 4) == 0 || memcmp(type, "pHYs", 4) == 0 || memcmp(type, "cHRM", 4) == 0;
}

// The source's signature and kept chunks, walked by their length fields alone.
static Bytes kept_chunks(const Bytes& source) {
    Bytes kept(source.begin(), source.begin() + 8);
    size_t at = 8;
    while (source.size() - at >= 12) {
        uint64_t total = uint64_t(be32_at(source, at)) + 12;
        if (total > source.size() - at) break;
        const uint8_t* chunk = source.data() + at;
        if (!dropped(chunk + 4)) kept.insert(kept.end(), chunk, chunk + total);
        at += total;
        if (memcmp(chunk + 4, "IEND", 4) == 0) break;
    }
    return kept;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || memcmp(data, "\x89PNG", 4) != 0) return -1;
    Bytes source(data, data + size);
    Bytes copy;
    if (reduce_bytes(source, &copy) != complete_copy) return 0;
    require(copy == kept_chunks(source), "chunks in order minus the dropped types");
    check_size_and_idempotence(source, copy, 0);
    return 0;
}
