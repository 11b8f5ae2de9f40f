// PSD: a complete copy keeps the header, the colour mode data and everything after the image
// resource section byte for byte; only the section shrinks, and its length says so.
#include "fuzz/harness.h"

#include <cstring>

constexpr size_t header_size = 26;  // signature to colour mode

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || memcmp(data, "8BPS", 4) != 0) return -1;
    Bytes source(data, data + size);
    Bytes copy;
    if (reduce_bytes(source, &copy) != complete_copy) return 0;
    // A complete copy means the source held the header and both length fields.
    size_t section_at = header_size + 4 + be32_at(source, header_size);
    require(copy.size() >= section_at + 4, "copy holds the header");
    require(memcmp(copy.data(), source.data(), section_at) == 0, "header and colour data unchanged");
    size_t rest_at = section_at + 4 + be32_at(source, section_at);
    size_t copy_rest_at = section_at + 4 + be32_at(copy, section_at);
    require(copy_rest_at <= copy.size() && copy.size() - copy_rest_at == source.size() - rest_at,
            "section length matches the kept blocks");
    require(memcmp(copy.data() + copy_rest_at, source.data() + rest_at, source.size() - rest_at) == 0,
            "everything after the resource section unchanged");
    check_size_and_idempotence(source, copy, 0);
    return 0;
}
