// Cleaning one file in place: the WorkBuffer, the batch counters, the three format filters.
// Everything here but clean_file is portable: no Windows headers.
#pragma once
#include <cstdint>
#include <cstddef>
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
extern char temp_path[path_size];       // where the reduced copy goes: a fixed name beside the program or in the user's temporary folder
extern int32_t source_size;             // size of the source, the filters' end bound
extern unsigned char head_bytes[10];    // first bytes of the source: 4, or 10 for a JPEG
extern uint8_t jpeg_is_exif;            // 1 when the JPEG's first segment says "Exif"
extern FILE* source_stream;             // the source while its filter reads it
extern FILE* temp_stream;               // the reduced copy while a filter writes it
extern int64_t copy_size;               // bytes the last filter wrote to temp_path
extern int32_t target_count;            // files of this batch recognised as PNG, PSD or JPEG
extern int32_t changed_count;           // files of this batch whose source was replaced

constexpr int32_t max_source_size = 1000000000;  // larger files are left alone
constexpr int32_t max_copy_size = max_source_size + 18;  // a copy outgrows its source by a JFIF segment at most
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

// A 64-bit checksum taken piece by piece, every piece but the last a multiple of 32 bytes long.
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

enum { journal_path_size = 1024 };  // UTF-16 units for a source's full path in the journal

// A replacement in progress, written beside temp_path before the first byte goes over the
// source, deleted once it is done: enough for the next start to finish it after a kill.
struct JournalRecord {
    char magic[8];                      // the layout of this record
    uint64_t copy_length;               // bytes of the reduced copy at temp_path
    uint64_t copy_checksum;             // checksum64 of those bytes
    uint64_t old_size;                  // the source's size before cleaning
    uint64_t creation_time;             // the source's times before cleaning, as FILETIME counts
    uint64_t last_write_time;
    uint64_t file_index;                // the file system's number of the source: the same file after a kill
    wchar_t source[journal_path_size];  // a full path that opens the source again, NUL-ended
    uint64_t record_checksum;           // of everything above: a torn record is never believed
};
// Stamps the magic and the record's own checksum.
void seal_journal_record(JournalRecord* record);
// Whether a record read back is whole and within the bounds a real one keeps.
bool journal_record_sound(const JournalRecord& record);

// Windows only from here on.

// What became of a reduced copy that was to replace its source.
enum Replacement {
    refused,   // the source is as it was; the copy at temp_path is to be deleted
    replaced,  // the source is the copy; temp_path and the journal are gone
    kept       // the copy moved aside beside temp_path, or stays there as the only whole image
};

extern uint64_t first_size;     // the source's size when it was first opened
extern bool copy_kept_at_temp;  // the only whole image stands at temp_path: nothing more is cleaned

// Cleans source_path in place and puts its file times back. One process at a time cleans
// through a temporary path; others wait for the file in hand.
void clean_file();

// Takes temp_path's machine-wide mutex, waiting while another process cleans through it and
// pumping meanwhile; false when the batch was stopped. The first time in this process, and
// when the mutex was abandoned, an interrupted replacement at temp_path is finished first.
bool take_lock();
// The same without waiting: false when another process holds it.
bool take_lock_if_free();
// Lets the mutex go, unless the only whole image stands at temp_path.
void release_lock();
// At a start and at the end of a batch: what a journal beside temp_path records is finished
// and the emptied journal goes, if the mutex is free at once; its holder sees to both otherwise.
void tidy_journal();
// The machine-wide name of temp_path's mutex, the same for every spelling of its folder (its
// long form, upper-cased, hashed); false when temp_path has no folder.
bool temp_lock_name(wchar_t* name, size_t name_size);

// The source's size and times, taken with exclusive access into first_size and the saved times.
bool take_size_and_times();
// Puts the saved times back on a source that was not replaced, unless another program saved it.
void put_times_back();
// Puts the complete reduced copy at temp_path over source_path, journalled.
Replacement replace_source();
// Finishes the replacement that the journal beside temp_path records, if there is one; without
// one, a file left at temp_path is stale and goes.
void finish_interrupted_replacement();
