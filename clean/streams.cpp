// The source read a block at a time, each piece summed as it is read, for the record of its
// replacement; the copy assembled in the WorkBuffer, whence it goes to the disk whole.
#include "clean/clean.h"

#include <algorithm>
#include <cstring>

static int64_t source_at;                 // where source_stream stands
static int64_t summed;                    // the source's bytes summed so far, from its start
static unsigned char partial[piece_bytes];  // the start of a piece that the reads so far have not filled

// Whole pieces are summed where they were read, while they are in the cache; only a piece
// that a read leaves unfinished is gathered.
static void sum_read(const unsigned char* data, size_t n) {
    if (source_at != summed) return;  // a filter that skipped ahead: sum_rest reads what it passed
    size_t filled = size_t(summed % piece_bytes);
    summed += int64_t(n);
    if (filled > 0) {
        size_t taken = std::min(n, piece_bytes - filled);
        memcpy(partial + filled, data, taken);
        data += taken;
        n -= taken;
        if (filled + taken < piece_bytes) return;
        source_pieces.push_back(checksum64(partial, piece_bytes));
    }
    for (; n >= piece_bytes; data += piece_bytes, n -= piece_bytes) source_pieces.push_back(checksum64(data, piece_bytes));
    memcpy(partial, data, n);
}

bool read_block(void* to, uint32_t n) {
    if (n == 0) return true;
    if (fread(to, n, 1, source_stream) != 1) return false;
    sum_read(static_cast<unsigned char*>(to), n);
    source_at += n;
    return true;
}

bool skip_block(uint32_t n) {
    if (n == 0) return true;
    if (fseek(source_stream, long(n), SEEK_CUR) != 0) return false;
    source_at += n;
    return true;
}

bool write_block(const void* from, uint32_t n) {
    if (!copy_has_room(n)) return false;
    unsigned char* at = copy_end();
    if (from != at) memmove(at, from, n);
    copy_size += n;
    return true;
}

static void start_summing() {
    source_pieces.clear();
    source_at = 0;
    summed = 0;
}

bool rewind_source() {
    start_summing();
    return fseek(source_stream, 0, SEEK_SET) == 0;
}

// The source's bytes that the filter passed over, summed; false unless the sums now cover
// exactly source_size bytes.
static bool sum_rest() {
    if (summed < source_size) {
        if (summed != source_at && fseek(source_stream, long(summed), SEEK_SET) != 0) return false;
        source_at = summed;
        unsigned char piece[64 * 1024];
        for (size_t got; (got = fread(piece, 1, sizeof piece, source_stream)) > 0; source_at += int64_t(got))
            sum_read(piece, got);
    }
    if (summed != source_size) return false;
    if (summed % piece_bytes) source_pieces.push_back(checksum64(partial, size_t(summed % piece_bytes)));
    return true;
}

// The old bytes of the piece in which a shorter copy ends, on either side of that end: a cut
// there may leave either side old.
static bool sum_cut_piece() {
    cut_sums[0] = cut_sums[1] = 0;
    int64_t start = copy_size / int64_t(piece_bytes) * int64_t(piece_bytes);
    if (copy_size >= source_size || start == copy_size) return true;
    size_t length = size_t(std::min<int64_t>(start + int64_t(piece_bytes), source_size) - start);
    size_t before = size_t(copy_size - start);
    if (fseek(source_stream, long(start), SEEK_SET) != 0 || fread(partial, length, 1, source_stream) != 1) return false;
    cut_sums[0] = checksum64(partial, before);
    cut_sums[1] = checksum64(partial + before, length - before);
    return true;
}

bool sum_whole_source() { return sum_rest() && sum_cut_piece(); }
