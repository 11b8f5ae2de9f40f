// The record of a replacement under way, as it stands on the disk, and the proof by content that
// a file is the source it names as a kill or a power cut left it. Portable: the tests read and
// write the record as it is on the disk and run the proof as a later start runs it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "clean/clean.h"

constexpr size_t nonce_bytes = 12;          // GMAC's nonce: random for each tag, never used twice with a key
constexpr size_t tag_bytes = 16;
constexpr size_t trailer_bytes = 128;       // the fixed fields that end a record
constexpr uint32_t max_path_units = 32767;  // the system's longest path, in UTF-16 units
constexpr uint32_t max_name_units = 255;    // a file name

// A replacement under way. On the disk, all little-endian: the sums of the old source's pieces,
// the source path's UTF-16 units, the kept name's, then the trailer: magic, copy_length,
// old_size, cut_sums, the two times, the two lengths in units (32 bits each), copy_nonce,
// copy_tag, seal_nonce, seal, and a checksum64 of everything before it. The trailer's lengths
// find the rest from the file's end; wiping its magic is the commit.
struct Record {
    uint64_t copy_length;                   // bytes of the reduced copy
    uint64_t old_size;                      // the source's size before cleaning
    uint64_t cut_sums[2];                   // as cut_sums, for a copy shorter than the source
    uint64_t creation_time;                 // the source's times before cleaning, as FILETIME counts
    uint64_t last_write_time;
    std::u16string source;                  // a full path that opens the source again
    std::u16string kept;                    // a waiting copy's bare file name; empty in the temporary file
    unsigned char copy_nonce[nonce_bytes];
    unsigned char copy_tag[tag_bytes];      // GMAC of the copy's bytes under the user's key
    unsigned char seal_nonce[nonce_bytes];
    unsigned char seal[tag_bytes];          // GMAC under the user's key of every byte of the record before it
};

// Pieces of a file of `size` bytes.
inline uint64_t pieces_of(uint64_t size) { return (size + piece_bytes - 1) / piece_bytes; }
// Bytes of the record on the disk.
size_t record_size(const Record& record);
// The record laid out as on the disk, `pieces` the sums of the old source's pieces.
std::vector<unsigned char> record_bytes(const Record& record, const std::vector<uint64_t>& pieces);
// The seal and the checksum after it put into laid-out bytes.
void put_seal(std::vector<unsigned char>* bytes, const unsigned char* seal);
// How many bytes of a record of `length` bytes its seal covers: all before it.
inline size_t sealed_length(size_t length) { return length - tag_bytes - 8; }
// The length of the record whose trailer is `trailer` (a file's last trailer_bytes); 0 where they
// end no record of this layout, or one outside the bounds a real record keeps.
uint64_t record_length(const unsigned char* trailer);
// A record read back whole, `length` bytes: sound when its checksum holds and it keeps the
// bounds of a real one. Soundness needs no key: it tells a torn record, not a forged one.
bool read_record_bytes(const unsigned char* bytes, size_t length, Record* record, std::vector<uint64_t>* pieces);
// A name that stays in the folder it is joined to.
bool bare_name(const std::u16string& name);

// Whether a file of `size` bytes can be the recorded source as a kill or a power cut during
// its replacement left it: the old size, the copy's, or between them while it grew.
bool size_left_by_replacement(const Record& record, uint64_t size);
// Whether piece `index` of that file, `now` (its bytes up to the old size or the file's end),
// holds the old bytes, the copy's, or the copy's start with the old bytes after it.
bool piece_left_by_replacement(const Record& record, const uint64_t* pieces, const unsigned char* copy,
                               uint64_t index, const unsigned char* now, size_t now_length);
// Reads `size` bytes at `at` of `file` into `to`; false unless all came.
using ReadAt = bool (*)(void* file, uint64_t at, void* to, uint64_t size);
// Whether the file of `size` bytes that `read` reads is the recorded source as a cut left it:
// its size, and every piece up to the old size, read back in large parts.
bool same_source(const Record& record, const uint64_t* pieces, const unsigned char* copy, uint64_t size,
                 ReadAt read, void* file);
