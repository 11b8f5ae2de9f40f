// The record of a replacement, and the proof by content that a file is the source it names as
// a kill or a power cut left it: file system numbers prove nothing on FAT, exFAT or ReFS, and a
// memory card swapped for another gives another photo the same name, size and number.
#include "replace/record.h"

#include <algorithm>
#include <cstring>

static const unsigned char record_magic[8] = {'b', 'r', 'i', 'n', 'q', 'R', '3', '\0'};

// Where each fixed field stands in the trailer.
enum : size_t {
    at_copy_length = 8,
    at_old_size = 16,
    at_cut_sums = 24,
    at_creation_time = 40,
    at_last_write_time = 48,
    at_source_units = 56,
    at_kept_units = 60,
    at_copy_nonce = 64,
    at_copy_tag = at_copy_nonce + nonce_bytes,
    at_seal_nonce = at_copy_tag + tag_bytes,
    at_seal = at_seal_nonce + nonce_bytes,
    at_checksum = at_seal + tag_bytes,
};
static_assert(at_checksum + 8 == trailer_bytes, "the trailer's fields fill it");

static void put_le(unsigned char* to, uint64_t value, size_t size) {
    for (size_t i = 0; i < size; i++) to[i] = uint8_t(value >> (8 * i));
}

static uint64_t read_le(const unsigned char* from, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; i++) value |= uint64_t(from[i]) << (8 * i);
    return value;
}

static void put_units(unsigned char* to, const std::u16string& text) {
    for (size_t i = 0; i < text.size(); i++) put_le(to + 2 * i, text[i], 2);
}

static std::u16string read_units(const unsigned char* from, size_t count) {
    std::u16string text(count, u'\0');
    for (size_t i = 0; i < count; i++) text[i] = char16_t(read_le(from + 2 * i, 2));
    return text;
}

static size_t length_of(uint64_t old_size, size_t source_units, size_t kept_units) {
    return size_t(pieces_of(old_size)) * 8 + 2 * (source_units + kept_units) + trailer_bytes;
}

size_t record_size(const Record& record) {
    return length_of(record.old_size, record.source.size(), record.kept.size());
}

std::vector<unsigned char> record_bytes(const Record& record, const std::vector<uint64_t>& pieces) {
    std::vector<unsigned char> bytes(record_size(record));
    unsigned char* at = bytes.data();
    for (size_t i = 0; i < pieces_of(record.old_size); i++, at += 8) put_le(at, pieces[i], 8);
    put_units(at, record.source);
    put_units(at + 2 * record.source.size(), record.kept);
    unsigned char* trailer = bytes.data() + bytes.size() - trailer_bytes;
    memcpy(trailer, record_magic, sizeof record_magic);
    put_le(trailer + at_copy_length, record.copy_length, 8);
    put_le(trailer + at_old_size, record.old_size, 8);
    put_le(trailer + at_cut_sums, record.cut_sums[0], 8);
    put_le(trailer + at_cut_sums + 8, record.cut_sums[1], 8);
    put_le(trailer + at_creation_time, record.creation_time, 8);
    put_le(trailer + at_last_write_time, record.last_write_time, 8);
    put_le(trailer + at_source_units, record.source.size(), 4);
    put_le(trailer + at_kept_units, record.kept.size(), 4);
    memcpy(trailer + at_copy_nonce, record.copy_nonce, nonce_bytes);
    memcpy(trailer + at_copy_tag, record.copy_tag, tag_bytes);
    memcpy(trailer + at_seal_nonce, record.seal_nonce, nonce_bytes);
    put_seal(&bytes, record.seal);
    return bytes;
}

void put_seal(std::vector<unsigned char>* bytes, const unsigned char* seal) {
    unsigned char* trailer = bytes->data() + bytes->size() - trailer_bytes;
    memcpy(trailer + at_seal, seal, tag_bytes);
    put_le(trailer + at_checksum, checksum64(bytes->data(), bytes->size() - 8), 8);
}

// Bounds that any record of a real replacement keeps: a source of at least a byte and at most
// the largest cleaned, a copy of another size and at most max_growth longer, a path and a name
// that fit the system's.
static bool within_bounds(uint64_t copy_length, uint64_t old_size, uint64_t source_units, uint64_t kept_units) {
    return old_size >= 1 && old_size <= uint64_t(max_source_size) && copy_length >= 1 &&
           copy_length <= old_size + max_growth && copy_length != old_size && source_units >= 1 &&
           source_units <= max_path_units && kept_units <= max_name_units;
}

uint64_t record_length(const unsigned char* trailer) {
    if (memcmp(trailer, record_magic, sizeof record_magic) != 0) return 0;
    uint64_t copy_length = read_le(trailer + at_copy_length, 8), old_size = read_le(trailer + at_old_size, 8);
    uint64_t source_units = read_le(trailer + at_source_units, 4), kept_units = read_le(trailer + at_kept_units, 4);
    if (!within_bounds(copy_length, old_size, source_units, kept_units)) return 0;
    return length_of(old_size, source_units, kept_units);
}

bool bare_name(const std::u16string& name) {
    return !name.empty() && name.find_first_of(u"\\/:") == std::u16string::npos &&
           name.find(u"..") == std::u16string::npos;
}

bool read_record_bytes(const unsigned char* bytes, size_t length, Record* record, std::vector<uint64_t>* pieces) {
    if (length < trailer_bytes) return false;
    const unsigned char* trailer = bytes + length - trailer_bytes;
    if (record_length(trailer) != length || read_le(trailer + at_checksum, 8) != checksum64(bytes, length - 8))
        return false;
    record->copy_length = read_le(trailer + at_copy_length, 8);
    record->old_size = read_le(trailer + at_old_size, 8);
    record->cut_sums[0] = read_le(trailer + at_cut_sums, 8);
    record->cut_sums[1] = read_le(trailer + at_cut_sums + 8, 8);
    record->creation_time = read_le(trailer + at_creation_time, 8);
    record->last_write_time = read_le(trailer + at_last_write_time, 8);
    memcpy(record->copy_nonce, trailer + at_copy_nonce, nonce_bytes);
    memcpy(record->copy_tag, trailer + at_copy_tag, tag_bytes);
    memcpy(record->seal_nonce, trailer + at_seal_nonce, nonce_bytes);
    memcpy(record->seal, trailer + at_seal, tag_bytes);
    size_t count = size_t(pieces_of(record->old_size)), source_units = size_t(read_le(trailer + at_source_units, 4));
    pieces->resize(count);
    for (size_t i = 0; i < count; i++) (*pieces)[i] = read_le(bytes + 8 * i, 8);
    record->source = read_units(bytes + 8 * count, source_units);
    record->kept = read_units(bytes + 8 * count + 2 * source_units, size_t(read_le(trailer + at_kept_units, 4)));
    bool nul_free = record->source.find(u'\0') == std::u16string::npos;
    return nul_free && (record->kept.empty() || bare_name(record->kept));
}

// A longer copy grows the file; a shorter one cuts it at the copy's end, and a power cut may
// keep the cut without the writes before it, or the writes without the cut.
bool size_left_by_replacement(const Record& record, uint64_t size) {
    return size == record.old_size || size == record.copy_length ||
           (size > record.old_size && size < record.copy_length);
}

bool piece_left_by_replacement(const Record& record, const uint64_t* pieces, const unsigned char* copy,
                               uint64_t index, const unsigned char* now, size_t now_length) {
    uint64_t start = index * piece_bytes;
    uint64_t end = std::min(start + piece_bytes, record.old_size);
    if (start >= end || now_length == 0 || start + now_length > end) return false;
    uint64_t copy_end = record.copy_length;
    if (start + now_length < end) {
        // Cut inside the piece, which only the cut at the copy's end does: its start, old or new.
        if (start + now_length != copy_end) return false;
        return memcmp(now, copy + start, now_length) == 0 || checksum64(now, now_length) == record.cut_sums[0];
    }
    if (checksum64(now, now_length) == pieces[index]) return true;
    if (start >= copy_end) return false;
    // The copy's bytes where it reaches; past its end the write leaves the old bytes.
    size_t over = size_t(std::min(end, copy_end) - start);
    if (memcmp(now, copy + start, over) != 0) return false;
    return over == now_length || checksum64(now + over, now_length - over) == record.cut_sums[1];
}

constexpr uint64_t read_back_bytes = 1 << 20;  // a whole number of pieces

bool same_source(const Record& record, const uint64_t* pieces, const unsigned char* copy, uint64_t size,
                 ReadAt read, void* file) {
    if (!size_left_by_replacement(record, size)) return false;
    uint64_t checked = std::min(size, record.old_size);
    std::vector<unsigned char> part(size_t(std::min(read_back_bytes, checked)));
    for (uint64_t at = 0; at < checked; at += read_back_bytes) {
        uint64_t length = std::min(read_back_bytes, checked - at);
        if (!read(file, at, part.data(), length)) return false;
        for (uint64_t piece = 0; piece < length; piece += piece_bytes)
            if (!piece_left_by_replacement(record, pieces, copy, (at + piece) / piece_bytes, part.data() + piece,
                                           size_t(std::min<uint64_t>(piece_bytes, length - piece))))
                return false;
    }
    return true;
}
