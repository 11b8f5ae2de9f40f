// Cleaning one file in place: the WorkBuffer, the batch counters, the three format filters.
// Everything here but clean_file is portable: no Windows headers.
#pragma once
#include <cstdint>
#include <cstdio>

enum { path_size = 260 };  // 259 bytes and the terminator, the ANSI path limit

// One heap block of capacity + 4 zero-filled bytes through which the filters move file data.
struct WorkBuffer {
    unsigned char* data;  // empty (null) when no block is held
    int32_t capacity;     // the size last asked for; 0 after a release
};

// What became of one source: not one of the three formats, recognised but no complete
// reduced copy was written, or a complete reduced copy now stands at temp_path.
enum Reduction { not_recognised, no_copy, complete_copy };

extern WorkBuffer work_buffer;          // shared by clean_file and every filter
extern char source_path[path_size];     // the file being cleaned
extern char temp_path[path_size];       // where the reduced copy goes: exe_dir + fixed name
extern int32_t source_size;             // size of the source, the filters' end bound
extern unsigned char head_bytes[10];    // first bytes of the source: 4, or 10 for a JPEG
extern uint8_t jpeg_is_exif;            // 1 when the JPEG's first segment says "Exif"
extern FILE* source_stream;             // the source while its filter reads it
extern FILE* temp_stream;               // the reduced copy while a filter writes it
extern int64_t copy_size;               // bytes the last filter wrote to temp_path
extern int32_t target_count;            // files of this batch recognised as PNG, PSD or JPEG
extern int32_t changed_count;           // files of this batch whose source was replaced

constexpr int32_t max_source_size = 1000000000;  // larger files are left alone
constexpr int32_t min_work_buffer = 2000000;     // spares re-allocation for small files

void allocate_work_buffer(int32_t size);
void ensure_work_buffer(int32_t size);
void release_work_buffer();

// Each filter reads source_stream, writes temp_path and closes temp_stream; true only when
// the reduced copy is complete (every read delivered what the format promised, every write
// and the close succeeded).
bool filter_png();
bool filter_jpeg();
bool filter_psd();

// Opens source_path (of source_size bytes), recognises it by its head bytes and runs its
// filter; raises target_count for a recognised file. Leaves source_stream closed.
Reduction reduce_source();

// Big-endian numbers of the file formats.
inline uint32_t read_be16(const unsigned char* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t read_be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Single-block transfers of the standard streams; false when less than n bytes moved.
bool read_block(void* to, uint32_t n);
bool write_block(const void* from, uint32_t n);
// Measured under Wine: 4 KiB costs PNG a system call per chunk; 256 KiB costs JPEG its copies
// through the buffer around the one large read of the scan.
constexpr size_t stream_buffer_size = 64 * 1024;
// fopen with a stream buffer of stream_buffer_size bytes.
FILE* open_stream(const char* path, const char* mode);
bool open_temp_stream();
// Closes temp_stream and records copy_size; true when complete and everything reached the file.
bool close_temp_stream(bool complete);

// Windows only: cleans source_path in place and puts its file times back. One process at a
// time cleans through a temporary path; others wait for the file in hand.
void clean_file();
// The machine-wide name of temp_path's mutex, the same for every spelling of its folder (its
// long form, upper-cased, hashed); false when temp_path has no folder.
bool temp_lock_name(wchar_t* name, size_t name_size);
