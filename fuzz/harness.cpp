#include "fuzz/harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void require(bool promise, const char* what) {
    if (promise) return;
    fprintf(stderr, "broken promise: %s\n", what);
    abort();
}

// The source in memory: no round trip through a folder.
Reduction reduce_bytes(const Bytes& source, Bytes* copy) {
    static Bytes held;
    held = source;
    source_stream = held.empty() ? tmpfile() : fmemopen(held.data(), held.size(), "rb");
    require(source_stream != nullptr, "a stream to clean from");
    source_size = int32_t(source.size());
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    if (result == complete_copy) {
        *copy = Bytes(work_buffer.data, work_buffer.data + copy_size);
        require(source_pieces.size() == pieces_of(source.size()), "every piece of the source summed");
        for (size_t at = 0; at < source.size(); at += piece_bytes)
            require(source_pieces[at / piece_bytes] ==
                        checksum64(source.data() + at, std::min(piece_bytes, source.size() - at)),
                    "each piece's sum");
    }
    fclose(source_stream);
    source_stream = nullptr;
    return result;
}

void check_size_and_idempotence(const Bytes& source, const Bytes& copy, size_t growth) {
    require(copy.size() <= source.size() + growth, "copy no longer than the source");
    Bytes again;
    require(reduce_bytes(copy, &again) == complete_copy, "a copy cleans completely");
    require(again == copy, "cleaning is idempotent");
}

uint32_t be32_at(const Bytes& bytes, size_t at) { return read_be32(bytes.data() + at); }
