// The reduced copy written over its source in place, so that the file keeps its identity,
// security settings and attributes: in a batch, after its record is on the disk, and at a later
// take for a replacement that a kill or a power cut left part-way, over the very file it was
// writing, once that file proves to be the source.
#include "replace/replace.h"

#include <cstring>

static FILETIME file_time(uint64_t ticks) { return {DWORD(ticks), DWORD(ticks >> 32)}; }

bool put_recorded_times(HANDLE file) {
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

// The whole copy from the file's start, cut to its length, on the disk. The times go with the
// same flush where the file system takes them; a share that refuses them leaves the
// replacement finished all the same.
static bool write_copy(HANDLE file) {
    if (!write_at(file, 0, work_buffer.data, record.copy_length) || !cut_at(file, record.copy_length)) return false;
    put_recorded_times(file);
    return FlushFileBuffers(file);
}

static bool read_handle(void* file, uint64_t at, void* to, uint64_t size) { return read_at(file, at, to, size); }

static uint64_t size_of(HANDLE file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? uint64_t(size.QuadPart) : ~uint64_t(0);
}

// The file at the recorded path, held, if it is the source part-way through this replacement.
static HANDLE open_proven_source() {
    if (refused_by_attributes(GetFileAttributesW(wide(record.source))))
        return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(wide(record.source), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    if (same_source(record, source_pieces.data(), work_buffer.data, size_of(file), read_handle, file)) return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

// After make_room. A write that fails part-way is tried once more on a fresh handle, which
// takes the place of *file, once the file there proves to be the source still: an editor's
// save or a swapped card in that instant puts another file at the path.
static Written write_over(HANDLE* file, Written room) {
    if (room != written || write_copy(*file)) return room;
    CloseHandle(*file);
    *file = open_proven_source();
    return *file != INVALID_HANDLE_VALUE && write_copy(*file) ? written : damaged;
}

// The record of the replacement in hand: the source's full path, the copy as assembled.
static bool fill_record() {
    if (source_path.size() > max_path_units) return false;
    record.source.assign(source_path.begin(), source_path.end());
    record.kept.clear();
    record.copy_length = uint64_t(copy_size);
    memcpy(record.cut_sums, cut_sums, sizeof cut_sums);
    return source_pieces.size() == pieces_of(record.old_size);
}

Replacement replace_source() {
    if (refused_by_attributes(GetFileAttributesW(source_path.c_str())) || !source_replaceable() || !fill_record())
        return refused;
    HANDLE temp = handle_of(temp_stream);
    Written outcome = append_record(temp) ? write_over(&source_file, make_room(source_file, record.old_size)) : untouched;
    if (outcome == damaged) {
        keep_waiting(temp_in_use);
        return kept;
    }
    // A source left as it was, as much as one that is the copy, has nothing left to finish.
    wipe_record(temp);
    return outcome == written ? replaced : refused;
}

bool finish_source() {
    HANDLE file = open_proven_source();
    if (file == INVALID_HANDLE_VALUE) return false;
    bool finished = write_over(&file, make_room(file, size_of(file))) == written;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return finished;
}
