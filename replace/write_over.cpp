// The reduced copy written over its source in place, so that the file keeps its identity,
// security settings and attributes: in a batch, after its record is on the disk, and at a later
// take for a replacement that a kill or a power cut left part-way, over the very file it was
// writing, once that file proves to be the source. Each works on the replacement in record.
#include "replace/replace.h"

#include <cstring>

static FILETIME file_time(uint64_t ticks) { return {DWORD(ticks), DWORD(ticks >> 32)}; }

bool put_recorded_times(HANDLE file) {
    FILETIME creation = file_time(record.creation_time), last_write = file_time(record.last_write_time);
    return SetFileTime(file, &creation, nullptr, &last_write);
}

bool refused_by_attributes(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

Written make_room(HANDLE file, uint64_t size, const unsigned char* copy) {
    if (record.copy_length <= size) return written;
    if (write_at(file, size, copy + size, record.copy_length - size)) return written;
    if (!cut_at(file, size)) return part_way;
    put_recorded_times(file);
    return untouched;
}

// The times go with the same flush where the file system takes them; a share that refuses them
// leaves the replacement finished all the same.
bool write_copy(HANDLE file, const unsigned char* copy) {
    if (!write_at(file, 0, copy, record.copy_length) || !cut_at(file, record.copy_length)) return false;
    put_recorded_times(file);
    return true;
}

static bool read_handle(void* file, uint64_t at, void* to, uint64_t size) { return read_at(file, at, to, size); }

static uint64_t size_of(HANDLE file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? uint64_t(size.QuadPart) : ~uint64_t(0);
}

// The file at the recorded path, held, if it is the source part-way through this replacement.
static HANDLE open_proven_source(const unsigned char* copy) {
    if (refused_by_attributes(wide(record.source))) return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(wide(record.source), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    if (same_source(record, source_pieces.data(), copy, size_of(file), read_handle, file)) return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

// A write or a flush that failed is tried once more on a fresh handle, which takes the place of
// *file, once the file there proves to be the source still: an editor's save or a swapped card
// in that instant puts another file at the path.
Written write_again(HANDLE* file, const unsigned char* copy) {
    CloseHandle(*file);
    *file = open_proven_source(copy);
    return *file != INVALID_HANDLE_VALUE && write_copy(*file, copy) && FlushFileBuffers(*file) ? written : part_way;
}

bool finish_source(const unsigned char* copy) {
    HANDLE file = open_proven_source(copy);
    if (file == INVALID_HANDLE_VALUE) return false;
    Written room = make_room(file, size_of(file), copy);
    bool finished = room == written && write_copy(file, copy) && FlushFileBuffers(file);
    if (!finished && room == written) finished = write_again(&file, copy) == written;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return finished;
}
