// Cleaning one file: the WorkBuffer, the batch counters, the three format filters. Portable: no
// Windows headers, and nothing opened by name; whoever calls reduce_source hands it the streams.
#pragma once
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <vector>

// One heap block of capacity + 4 zero-filled bytes through which the filters move file data.
struct WorkBuffer {
    unsigned char* data;  // empty (null) when no block is held
    int32_t capacity;     // the size last asked for; 0 after a release
};

// What became of one source: not one of the three formats, recognised but no complete
// reduced copy was made, or a complete reduced copy now stands in the WorkBuffer.
enum Reduction { not_recognised, no_copy, complete_copy };

// A kill or a power cut leaves each piece of this size of a file either old or new.
constexpr size_t piece_bytes = 4096;

extern WorkBuffer work_buffer;          // shared by the caller and every filter
extern int32_t source_size;             // size of the source, the filters' end bound
extern unsigned char head_bytes[4];     // first bytes of the source, which tell its format
extern FILE* source_stream;             // the source, read from its start by the filter
extern int64_t copy_size;               // bytes of the reduced copy so far, assembled at the WorkBuffer's start
extern int32_t target_count;            // files of this batch recognised as PNG, PSD or JPEG
extern int32_t changed_count;           // files of this batch whose source was replaced
extern std::vector<uint64_t> source_pieces;  // checksum64 of each piece of the source, taken as the filter reads it
extern uint64_t cut_sums[2];            // the source's piece that the copy's end falls in: its bytes before that end, and after

constexpr int32_t max_source_size = 1000000000;  // larger files are left alone
constexpr int32_t max_growth = 18;               // a copy outgrows its source by a JFIF segment at most
constexpr int32_t max_copy_size = max_source_size + max_growth;
constexpr int32_t min_work_buffer = 2000000;     // spares re-allocation for small files

void allocate_work_buffer(int32_t size);
void ensure_work_buffer(int32_t size);
void release_work_buffer();

// Each filter reads source_stream and assembles the reduced copy in the WorkBuffer; true only
// when it is complete: every read delivered what the format promised. Whoever called it writes
// the copy where it goes.
bool filter_png();
bool filter_jpeg();
bool filter_psd();
// Whether a JPEG may begin with this marker after SOI: an application segment, a comment, a table
// or a frame.
bool starts_jpeg(unsigned char marker);

// Recognises source_stream (of source_size bytes) by its head bytes and runs its filter;
// raises target_count for a recognised file. A complete copy comes with the sums of every
// piece of the source. The stream stays open.
Reduction reduce_source();

// Big-endian numbers of the file formats.
inline uint32_t read_be16(const unsigned char* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t read_be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Single-block reads of the source's stream; false when less than n bytes moved. A block
// written goes to the copy's end in the WorkBuffer, unless it was read there; false when it
// does not fit.
bool read_block(void* to, uint32_t n);
bool skip_block(uint32_t n);
bool write_block(const void* from, uint32_t n);
// Where the next block of the copy goes, and whether n more bytes fit there.
inline unsigned char* copy_end() { return work_buffer.data + copy_size; }
inline bool copy_has_room(int64_t n) { return copy_size + n <= work_buffer.capacity; }
// Measured under Wine: 4 KiB costs PNG a system call per chunk; 256 KiB costs JPEG its copies
// through the buffer around the one large read of the scan.
constexpr size_t stream_buffer_size = 64 * 1024;
// source_stream from its start, its pieces summed anew.
bool rewind_source();
// A new copy, from the WorkBuffer's start.
inline void start_copy() { copy_size = 0; }
// After a complete copy: the source's pieces that the filter passed over summed too, and
// cut_sums; false unless the sums cover exactly source_size bytes.
bool sum_whole_source();

// A 64-bit checksum taken piece by piece, every piece but the last a multiple of 32 bytes long.
// It tells a torn or lost write, not a forged one.
struct Checksum {
    uint64_t sums[4];          // running sums of the 8-byte words, a lane each
    uint64_t sums_of_sums[4];  // running sums of those sums
    uint64_t hash;             // the last piece's bytes beyond the lanes, mixed in one by one
    uint64_t length;           // bytes summed so far
};
void checksum_start(Checksum* sum);
void checksum_add(Checksum* sum, const unsigned char* data, size_t size);
uint64_t checksum_end(const Checksum& sum);
// The same of one block.
uint64_t checksum64(const unsigned char* data, size_t size);
