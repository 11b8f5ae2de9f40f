// The reduced copy written over its source in place, so that the file keeps its identity,
// security settings and attributes: in a batch, after its record is on the disk, and at a later
// start for a replacement that a kill or a power cut left part-way, over the very file it was
// writing.
#include "clean/clean.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

static FILETIME file_time(uint64_t ticks) { return {DWORD(ticks), DWORD(ticks >> 32)}; }

bool put_recorded_times(void* file) {
    FILETIME creation = file_time(record.creation_time), last_write = file_time(record.last_write_time);
    return SetFileTime(file, &creation, nullptr, &last_write);
}

// Copying over a read-only, hidden or system file fails on Windows; asking first keeps that
// true wherever the file system would let the copy through (Wine run as root does). Asked by
// name: that is how Wine tells a hidden dot-file.
static bool refused_by_attributes(DWORD attributes) {
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

enum Written { untouched, written, damaged };

// A copy longer than the file's `size` bytes first writes what lies past that end, so that a
// full disk refuses it before a byte of the source has changed; then the file is cut back.
static Written make_room(HANDLE file, uint64_t size) {
    if (record.copy_length <= size) return written;
    if (write_at(file, size, work_buffer.data + size, record.copy_length - size)) return written;
    if (!cut_at(file, size)) return damaged;
    put_recorded_times(file);
    return untouched;
}

// The whole copy from the file's start, cut to its length, the times put back, all on the disk.
static bool write_copy(HANDLE file) {
    return write_at(file, 0, work_buffer.data, record.copy_length) && cut_at(file, record.copy_length) &&
           put_recorded_times(file) && FlushFileBuffers(file);
}

// After make_room. A write that fails part-way is tried once more on a fresh handle, which
// takes the place of *file.
static Written write_over(HANDLE* file, Written room) {
    if (room != written || write_copy(*file)) return room;
    CloseHandle(*file);
    *file = CreateFileW(record.source, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    return *file != INVALID_HANDLE_VALUE && write_copy(*file) ? written : damaged;
}

// The record of the replacement in hand: the source's full path, the copy as assembled.
static bool fill_record() {
    wchar_t path[path_size];
    memset(record.source, 0, sizeof record.source);
    memset(record.kept, 0, sizeof record.kept);
    if (!MultiByteToWideChar(CP_ACP, 0, source_path, -1, path, path_size)) return false;
    DWORD length = GetFullPathNameW(path, record_path_size, record.source, nullptr);
    if (length == 0 || length >= record_path_size) return false;
    record.copy_length = uint64_t(copy_size);
    record.copy_checksum = copy_checksum();
    memcpy(record.cut_sums, cut_sums, sizeof cut_sums);
    return source_pieces.size() == pieces_of(record.old_size);
}

Replacement replace_source() {
    if (refused_by_attributes(GetFileAttributesA(source_path)) || !source_replaceable() || !fill_record())
        return refused;
    Written outcome = append_record() ? write_over(&source_file, make_room(source_file, record.old_size)) : untouched;
    if (outcome == damaged) {
        close_temp_stream();
        return keep_waiting();
    }
    // A source left as it was, as much as one that is the copy, has nothing left to finish.
    wipe_record();
    return outcome == written ? replaced : refused;
}

// Every piece the file holds up to the old size, read back in pieces of scratch_bytes after the
// copy, is the old piece, the copy's, or the two as a cut inside the piece left them.
static bool same_source(HANDLE file, uint64_t size) {
    if (!size_left_by_replacement(record, size)) return false;
    uint64_t checked = std::min(size, record.old_size);
    unsigned char* scratch = work_buffer.data + record.copy_length;
    for (uint64_t at = 0; at < checked; at += scratch_bytes) {
        uint64_t length = std::min(scratch_bytes, checked - at);
        if (!read_at(file, at, scratch, length)) return false;
        for (uint64_t piece = 0; piece < length; piece += piece_bytes)
            if (!piece_left_by_replacement(record, source_pieces.data(), work_buffer.data, (at + piece) / piece_bytes,
                                           scratch + piece, size_t(std::min<uint64_t>(piece_bytes, length - piece))))
                return false;
    }
    return true;
}

bool finish_source() {
    if (refused_by_attributes(GetFileAttributesW(record.source))) return false;
    HANDLE file = CreateFileW(record.source, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool finished = GetFileSizeEx(file, &size) && same_source(file, uint64_t(size.QuadPart)) &&
                    write_over(&file, make_room(file, uint64_t(size.QuadPart))) == written;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return finished;
}
