// Cleaning one file in place: the WorkBuffer, the batch counters, the three format filters.
// Everything here down to the Windows section is portable: no Windows headers.
#pragma once
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <vector>

enum { path_size = 260 };  // 259 bytes and the terminator, the ANSI path limit

// One heap block of capacity + 4 zero-filled bytes through which the filters move file data.
struct WorkBuffer {
    unsigned char* data;  // empty (null) when no block is held
    int32_t capacity;     // the size last asked for; 0 after a release
};

// What became of one source: not one of the three formats, recognised but no complete
// reduced copy was written, or a complete reduced copy now stands at temp_path.
enum Reduction { not_recognised, no_copy, complete_copy };

// A kill or a power cut leaves each piece of this size of a file either old or new.
constexpr size_t piece_bytes = 4096;

extern WorkBuffer work_buffer;          // shared by clean_file and every filter
extern char source_path[path_size];     // the file being cleaned
extern char temp_path[path_size];       // where the reduced copy goes: a fixed name beside the program or in the user's temporary folder
extern int32_t source_size;             // size of the source, the filters' end bound
extern unsigned char head_bytes[10];    // first bytes of the source: 4, or 10 for a JPEG
extern uint8_t jpeg_is_exif;            // 1 when the JPEG's first segment says "Exif"
extern FILE* source_stream;             // the source while its filter reads it
extern FILE* temp_stream;               // the reduced copy while a filter writes it
extern int64_t copy_size;               // bytes of the reduced copy so far, assembled at the WorkBuffer's start as they are written
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

// Each filter reads source_stream and writes temp_path; true only when the reduced copy is
// complete (every read delivered what the format promised, every write reached the file), and
// then it stands whole in the WorkBuffer too.
bool filter_png();
bool filter_jpeg();
bool filter_psd();

// Opens source_path (of source_size bytes), recognises it by its head bytes and runs its
// filter; raises target_count for a recognised file. A complete copy comes with the sums of
// every piece of the source, and temp_stream still open after it. Leaves source_stream closed.
Reduction reduce_source();

// Big-endian numbers of the file formats.
inline uint32_t read_be16(const unsigned char* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t read_be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Single-block transfers of the standard streams; false when less than n bytes moved. A block
// written goes to the copy's end in the WorkBuffer first, unless it was read there.
bool read_block(void* to, uint32_t n);
bool skip_block(uint32_t n);
bool write_block(const void* from, uint32_t n);
// Where the next block of the copy goes, and whether n more bytes fit there.
inline unsigned char* copy_end() { return work_buffer.data + copy_size; }
inline bool copy_has_room(int64_t n) { return copy_size + n <= work_buffer.capacity; }
// Measured under Wine: 4 KiB costs PNG a system call per chunk; 256 KiB costs JPEG its copies
// through the buffer around the one large read of the scan.
constexpr size_t stream_buffer_size = 64 * 1024;
// fopen with a stream buffer of stream_buffer_size bytes.
FILE* open_stream(const char* path, const char* mode);
// source_path from its start, its pieces summed anew from start_summing.
bool open_source_stream();
void start_summing();
// temp_path, empty, for writing, the copy started; under Windows another program that holds it
// for a moment is waited for.
bool open_temp_stream();
void start_copy();
// checksum64 of the copy so far, summed as it was written.
uint64_t copy_checksum();
// The end of a filter's writing: true when complete and everything reached the file. The stream
// stays open after a complete copy, for its record, and is closed otherwise.
bool end_temp_stream(bool complete);
void close_temp_stream();
// After a complete copy: the source's pieces that the filter passed over summed too, and
// cut_sums; false unless the sums cover exactly source_size bytes.
bool sum_whole_source();

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

enum { record_path_size = 1024 };  // UTF-16 units for a source's full path in a record

// A replacement under way: written, with the sums of the old source's pieces before it, after
// the copy in the temporary file before the first byte goes over the source; wiping its magic
// is the commit. A replacement that has to wait keeps it in a file of its own.
struct RecordTail {
    char magic[8];                     // the layout of this record
    uint64_t copy_length;              // bytes of the reduced copy
    uint64_t copy_checksum;            // checksum64 of those bytes
    uint64_t old_size;                 // the source's size before cleaning
    uint64_t pieces_checksum;          // checksum64 of the pieces' sums before this tail
    uint64_t cut_sums[2];              // as cut_sums, for a copy shorter than the source
    uint64_t creation_time;            // the source's times before cleaning, as FILETIME counts
    uint64_t last_write_time;
    wchar_t source[record_path_size];  // a full path that opens the source again, NUL-ended
    wchar_t kept[path_size];           // a waiting copy's file name beside the record; empty in the temporary file
    uint64_t record_checksum;          // of everything above: a torn record is never believed
};
// Pieces of a file of `size` bytes.
inline uint64_t pieces_of(uint64_t size) { return (size + piece_bytes - 1) / piece_bytes; }
// Stamps the magic and the checksums of the record and of the pieces' sums.
void seal_record(RecordTail* tail, const uint64_t* pieces);
// Whether a tail read back is whole and within the bounds a real one keeps; its pieces' sums
// are checked once read, with pieces_sound.
bool record_sound(const RecordTail& tail);
bool pieces_sound(const RecordTail& tail, const uint64_t* pieces);
// Whether a file of `size` bytes can be the recorded source as a kill or a power cut during
// its replacement left it: the old size, the copy's, or between them while it grew.
bool size_left_by_replacement(const RecordTail& tail, uint64_t size);
// Whether piece `index` of that file, `now` (its bytes up to the old size or the file's end),
// holds the old bytes, the copy's, or the copy's start with the old bytes after it.
bool piece_left_by_replacement(const RecordTail& tail, const uint64_t* pieces, const unsigned char* copy,
                               uint64_t index, const unsigned char* now, size_t now_length);

// Windows only from here on.

// What became of a reduced copy that was to replace its source.
enum Replacement {
    refused,   // the source is as it was; the copy at temp_path is to be deleted
    replaced,  // the source is the copy, on the disk, and temp_path is gone
    kept       // the copy waits beside temp_path for its source, or stays there as the only whole image
};

// A file that holds a record, or a copy, as it was read back.
enum ReadState { file_missing, file_unreadable, file_unsound, file_sound };

constexpr uint64_t scratch_bytes = 1 << 20;  // after a copy checked in the WorkBuffer: room to read a source back

extern RecordTail record;               // the replacement in hand, or the one a later start finishes
extern void* source_file;               // source_path held, to no other process, while it is cleaned
extern bool temp_busy;                  // the last clean_file found temp_path in another process's hands
extern char temp_folders[2][path_size]; // where temp_path may go, in turn: the program's folder, the user's temporary folder

// Cleans source_path in place and puts its file times back. One process at a time cleans
// through a temporary path; while another has its file in hand, this sets temp_busy and
// returns, to be called again once wait_for_temp has waited.
void clean_file();
// Waits up to 100 ms for temp_path's mutex, less when a message arrives; taken, it is kept
// for the next clean_file.
void wait_for_temp();
// Lets temp_path's mutex go, unless the only whole image of a source stands at temp_path.
void release_temp();
// At a start: what interrupted replacements left beside either folder of temp_folders is
// finished, where no other process holds it.
void finish_pending_if_free();
// At the end of a batch: the temporary file, which the batch's files shared, goes where no other
// process has a file in hand through it.
void end_batch();
// temp_path in the first of temp_folders that takes a file; where none does, beside the program
// as far as it can be named.
void choose_temp_path();
// The machine-wide name of temp_path's mutex, the same for every spelling of its folder (its
// long form, upper-cased, hashed); false when temp_path has no folder.
bool temp_lock_name(wchar_t* name, size_t name_size);

// Between the files of clean/. A void* is a Windows file handle.

// temp_path's mutex taken without waiting.
bool take_lock();
// Whether what was left beside temp_path is still to be looked at, once: this process had not
// looked there since it took the mutex first, or since a holder died with it.
bool leftovers_unchecked();
// temp_path taken, in the other folder where leftovers block this one.
bool take_temp();
// The mutex stays with this process until it ends.
void keep_lock();
// This process cleans no more through temp_path's folder.
void block_temp_folder();
// What a replacement cut short left beside temp_path: waiting records, then the temporary file.
void finish_pending();
// Whether source_path waits for its replacement to be finished, or is such a waiting copy.
bool is_waiting_source();
// The recorded source and its copy at `kept` noted as waiting, or forgotten.
void note_waiting(const wchar_t* kept, bool waits);
// temp_path in UTF-16.
bool wide_temp_path(wchar_t* temp);
// `name` in the folder of the path `beside`; false when it would not fit a path.
bool beside(const wchar_t* beside, const wchar_t* name, wchar_t* path);
// The copy at temp_path, with its record, set aside to wait for its source.
Replacement keep_waiting();
// Deletes temp_path, waiting a moment for another program that holds it.
void delete_temp();
// Whether source_file can take the copy: writable, and still of the size and last-write time it
// was first seen with.
bool source_replaceable();
// A stdio stream over a Windows file handle, which it then owns; null, the handle closed, on failure.
FILE* stream_of(void* file, const char* mode);
// Puts the complete reduced copy, assembled in the WorkBuffer, over source_path.
Replacement replace_source();
// The recorded replacement finished over its source, if that file is still the source as the
// cut left it; the copy stands checked in the WorkBuffer. False while it must wait.
bool finish_source();
// The file's end set to `length`.
bool cut_at(void* file, uint64_t length);
bool cut_file(const wchar_t* path, uint64_t length);
// The times the source had before cleaning, put back on it.
bool put_recorded_times(void* file);
// After the copy in temp_stream: the record of the replacement in hand, on the disk with the copy.
bool append_record();
// The record no longer holds, and temp_stream is closed: the commit, once the source is on the
// disk, or a replacement given up before a byte of the source changed.
void wipe_record();
// A waiting replacement's record in a new file of its own, on the disk; false when the name is taken.
bool write_waiting_record(const wchar_t* path);
// The record at a file's end into record and source_pieces; with_copy, the temporary file's
// copy before it into the WorkBuffer, checked.
ReadState read_record(const wchar_t* path, bool with_copy);
// A waiting copy into the WorkBuffer, checked against record; its length on disk.
ReadState read_kept_copy(const wchar_t* path, uint64_t* length);
// Whether to try again: another program held the file for a moment; about a second in all.
bool held_for_a_moment(int* tries);
bool write_at(void* file, uint64_t at, const void* data, uint64_t size);
bool read_at(void* file, uint64_t at, void* data, uint64_t size);
