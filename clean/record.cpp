// The record of a replacement, and the proof by content that a file is the source it names as
// a kill or a power cut left it: file system numbers prove nothing on FAT, exFAT or ReFS, and a
// memory card swapped for another gives another photo the same name, size and number.
#include "clean/clean.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

static const char record_magic[8] = {'b', 'r', 'i', 'n', 'q', 'R', '2', '\0'};

static uint64_t pieces_sum(const RecordTail& tail, const uint64_t* pieces) {
    return checksum64(reinterpret_cast<const unsigned char*>(pieces), pieces_of(tail.old_size) * sizeof *pieces);
}

static uint64_t tail_sum(const RecordTail& tail) {
    return checksum64(reinterpret_cast<const unsigned char*>(&tail), offsetof(RecordTail, record_checksum));
}

void seal_record(RecordTail* tail, const uint64_t* pieces) {
    memcpy(tail->magic, record_magic, sizeof record_magic);
    tail->pieces_checksum = pieces_sum(*tail, pieces);
    tail->record_checksum = tail_sum(*tail);
}

template <size_t n>
static bool ends_in_nul(const wchar_t (&text)[n]) {
    return std::find(text, text + n, L'\0') != text + n;
}

// Bounds a sound record holds anyway: a copy of another size than the source, never much larger.
bool record_sound(const RecordTail& tail) {
    if (memcmp(tail.magic, record_magic, sizeof record_magic) != 0 || tail.record_checksum != tail_sum(tail))
        return false;
    return ends_in_nul(tail.source) && ends_in_nul(tail.kept) && tail.source[0] != L'\0' &&
           tail.old_size <= uint64_t(max_source_size) && tail.copy_length > 0 &&
           tail.copy_length <= uint64_t(max_copy_size) && tail.copy_length != tail.old_size;
}

bool pieces_sound(const RecordTail& tail, const uint64_t* pieces) {
    return pieces_sum(tail, pieces) == tail.pieces_checksum;
}

// A longer copy grows the file; a shorter one cuts it at the copy's end, and a power cut may
// keep the cut without the writes before it, or the writes without the cut.
bool size_left_by_replacement(const RecordTail& tail, uint64_t size) {
    return size == tail.old_size || size == tail.copy_length || (size > tail.old_size && size < tail.copy_length);
}

bool piece_left_by_replacement(const RecordTail& tail, const uint64_t* pieces, const unsigned char* copy,
                               uint64_t index, const unsigned char* now, size_t now_length) {
    uint64_t start = index * piece_bytes;
    uint64_t end = std::min(start + piece_bytes, tail.old_size);
    if (start >= end || now_length == 0 || start + now_length > end) return false;
    uint64_t copy_end = tail.copy_length;
    if (start + now_length < end) {
        // Cut inside the piece, which only the cut at the copy's end does: its start, old or new.
        if (start + now_length != copy_end) return false;
        return memcmp(now, copy + start, now_length) == 0 || checksum64(now, now_length) == tail.cut_sums[0];
    }
    if (checksum64(now, now_length) == pieces[index]) return true;
    if (start >= copy_end) return false;
    // The copy's bytes where it reaches; past its end the write leaves the old bytes.
    size_t over = size_t(std::min(end, copy_end) - start);
    if (memcmp(now, copy + start, over) != 0) return false;
    return over == now_length || checksum64(now + over, now_length - over) == tail.cut_sums[1];
}
