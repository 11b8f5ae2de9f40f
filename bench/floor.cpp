// The benchmark's floor: for each file only the I/O that cleaning it in place cannot do
// without. Size and times through an exclusive handle, one read of the whole file, the
// temporary file written beside the program with the file's own bytes, read back in one read
// and written over the source in place, the temporary file deleted, the times put back, the
// 1 ms yield. Folder arguments are swept one level deep.
//
// Switches, before the paths, each add one thing that brinq.exe does besides:
//   -m  the reduced copy measured through a handle of its own, the source's attributes asked
//   -w  the zero-filled WorkBuffer: capacity + 4 bytes, at least 2,000,000, grown when a file
//       is larger, released at the start and end of each folder
//   -s  the source read and the copy written in a JPEG filter's pieces, through brinq.exe's stream
//       buffers: head bytes, each leading segment's marker, length and body, then the rest
//   -c  CopyFileA over the source instead of the write in place (and no read-back)
// and one that tells what guarding against a power cut costs at least:
//   -f  FlushFileBuffers of the temporary copy before it is read back, and of the source
//       after the write over it, so that a power cut could lose neither
// and the least a program that guards against a power cut must do:
//   -l  one temporary file for the whole run, kept open, written over from its start for each
//       file and flushed; the source opened once for its size, times, read, the write over it
//       from the same memory (no read-back), its times and its flush; the temporary file
//       deleted at the end of the run. Both flushes always; -m, -s and -c do not apply to it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <io.h>

static bool measure_copy;         // -m
static bool zeroed_work_buffer;   // -w
static bool filter_pieces;        // -s
static bool copy_file;            // -c
static bool flush_to_disk;        // -f
static bool lean;                 // -l
static HANDLE lean_temp = INVALID_HANDLE_VALUE;  // -l: open for the whole run
static unsigned char* buffer;     // the file's bytes, reused from file to file
static size_t buffer_size;        // what buffer holds room for
static char floor_temp[MAX_PATH];  // beside the program
// brinq.exe's stream buffer, for -s: a copy of its own, so that the floor builds alone.
static const size_t stream_buffer_size = 64 * 1024;

static void release_buffer() {
    if (!buffer) return;
    if (zeroed_work_buffer) HeapFree(GetProcessHeap(), 0, buffer);
    else free(buffer);
    buffer = nullptr;
    buffer_size = 0;
}

static bool ensure_buffer(size_t size) {
    if (zeroed_work_buffer && size < 2000000) size = 2000000;
    if (buffer && buffer_size >= size) return true;
    release_buffer();
    buffer = static_cast<unsigned char*>(zeroed_work_buffer ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + 4)
                                                            : malloc(size));
    buffer_size = buffer ? size : 0;
    return buffer != nullptr;
}

static HANDLE open_existing(const char* path, DWORD access) {
    return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static bool move_piece(FILE* from, FILE* to, size_t at, size_t n) {
    return n == 0 || (fread(buffer + at, n, 1, from) == 1 && fwrite(buffer + at, n, 1, to) == 1);
}

static size_t be16_at(size_t at) { return size_t(buffer[at]) << 8 | buffer[at + 1]; }

// The pieces a JPEG filter reads: 4 and 6 head bytes, the rest of the first segment, then
// marker, length and body of each segment up to the scan, whose rest goes in one piece.
// Any other file: 4 head bytes, then the rest.
static bool move_in_pieces(FILE* from, FILE* to, size_t size) {
    if (size < 10) return move_piece(from, to, 0, size);
    if (!move_piece(from, to, 0, 4)) return false;
    if (buffer[0] != 0xFF) return move_piece(from, to, 4, size - 4);
    if (!move_piece(from, to, 4, 6)) return false;
    size_t at = 4 + be16_at(4);
    if (at < 10 || at > size || !move_piece(from, to, 10, at - 10)) return false;
    while (size - at >= 4) {
        if (!move_piece(from, to, at, 2)) return false;
        at += 2;
        if (buffer[at - 2] != 0xFF || (buffer[at - 1] >= 0xD0 && buffer[at - 1] <= 0xDA)) break;
        if (!move_piece(from, to, at, 2)) return false;
        size_t length = be16_at(at);
        if (length < 2 || length > size - at) return false;
        if (!move_piece(from, to, at + 2, length - 2)) return false;
        at += length;
    }
    return move_piece(from, to, at, size - at);
}

// With -s, the stream buffer that brinq.exe gives its source and copy.
static FILE* open_buffered(const char* path, const char* mode) {
    FILE* stream = fopen(path, mode);
    if (stream && filter_pieces) setvbuf(stream, nullptr, _IOFBF, stream_buffer_size);
    return stream;
}

// The source's bytes, read and written to the temporary file.
static bool write_temp_copy(const char* path, size_t size) {
    FILE* from = open_buffered(path, "rb");
    if (!from) return false;
    FILE* to = open_buffered(floor_temp, "wb");
    bool moved = to && (filter_pieces ? move_in_pieces(from, to, size) : move_piece(from, to, 0, size));
    if (moved && flush_to_disk)
        moved = fflush(to) == 0 && FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(to))));
    fclose(from);
    return to && fclose(to) == 0 && moved;
}

static bool temp_copy_measured() {
    HANDLE file = open_existing(floor_temp, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER length;
    bool ok = GetFileSizeEx(file, &length);
    CloseHandle(file);
    return ok && GetFileAttributesA(floor_temp) != INVALID_FILE_ATTRIBUTES;
}

static bool write_in_place(const char* path, size_t size) {
    FILE* copy = fopen(floor_temp, "rb");
    if (!copy) return false;
    bool read = fread(buffer, size, 1, copy) == 1;
    fclose(copy);
    HANDLE file = open_existing(path, GENERIC_WRITE);
    if (!read || file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, buffer, DWORD(size), &written, nullptr) && written == size && SetEndOfFile(file);
    if (ok && flush_to_disk) ok = FlushFileBuffers(file);
    CloseHandle(file);
    return ok;
}

static void put_times_back(const char* path, const FILETIME* creation, const FILETIME* last_write) {
    HANDLE file = open_existing(path, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFileTime(file, creation, nullptr, last_write);
    CloseHandle(file);
}

static void yield_a_moment() {
    timeBeginPeriod(1);
    Sleep(1);
    timeEndPeriod(1);
}

// Over the old bytes, never truncated to zero first: ext4 writes back a file cut to zero when
// it is closed, and its next delete is slower.
static bool write_over(HANDLE file, size_t size) {
    LARGE_INTEGER start = {};
    DWORD written = 0;
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
           WriteFile(file, buffer, DWORD(size), &written, nullptr) && written == size && SetEndOfFile(file);
}

static void lean_floor_file(const char* path) {
    HANDLE file = open_existing(path, GENERIC_READ | GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER length;
    FILETIME creation, last_write;
    DWORD read = 0;
    bool ok = GetFileSizeEx(file, &length) && GetFileTime(file, &creation, nullptr, &last_write) &&
              length.QuadPart <= 0x7FFFFFFF && ensure_buffer(size_t(length.QuadPart));
    size_t size = ok ? size_t(length.QuadPart) : 0;
    ok = ok && ReadFile(file, buffer, DWORD(size), &read, nullptr) && read == size;
    // The copy is on disk before the source is touched, so that a cut leaves one whole.
    ok = ok && write_over(lean_temp, size) && FlushFileBuffers(lean_temp);
    if (ok && write_over(file, size)) {
        SetFileTime(file, &creation, nullptr, &last_write);
        FlushFileBuffers(file);
    }
    CloseHandle(file);
    yield_a_moment();
}

static void floor_file(const char* path) {
    if (lean) {
        lean_floor_file(path);
        return;
    }
    HANDLE file = open_existing(path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER length;
    FILETIME creation, last_write;
    bool ok = GetFileSizeEx(file, &length) && GetFileTime(file, &creation, nullptr, &last_write);
    CloseHandle(file);
    if (!ok || length.QuadPart > 0x7FFFFFFF || !ensure_buffer(size_t(length.QuadPart))) return;
    size_t size = size_t(length.QuadPart);
    if (write_temp_copy(path, size) && (!measure_copy || temp_copy_measured())) {
        if (copy_file) CopyFileA(floor_temp, path, FALSE);
        else write_in_place(path, size);
    }
    DeleteFileA(floor_temp);
    put_times_back(path, &creation, &last_write);
    yield_a_moment();
}

static void floor_folder(const char* folder) {
    char path[MAX_PATH];
    if (snprintf(path, sizeof path, "%s\\*", folder) >= int(sizeof path)) return;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(path, &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    if (zeroed_work_buffer) release_buffer();
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (snprintf(path, sizeof path, "%s\\%s", folder, entry.cFileName) < int(sizeof path)) floor_file(path);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    if (zeroed_work_buffer) release_buffer();
}

static bool take_switch(const char* argument) {
    if (argument[0] != '-') return false;
    for (const char* s = argument + 1; *s; s++) {
        measure_copy |= *s == 'm';
        zeroed_work_buffer |= *s == 'w';
        filter_pieces |= *s == 's';
        copy_file |= *s == 'c';
        flush_to_disk |= *s == 'f';
        lean |= *s == 'l';
    }
    return true;
}

int main(int argc, char** argv) {
    DWORD length = GetModuleFileNameA(nullptr, floor_temp, MAX_PATH);
    char* name = strrchr(floor_temp, '\\');
    if (length == 0 || length >= MAX_PATH - 16 || !name) return 1;
    strcpy(name + 1, "floor.tmp");
    int i = 1;
    while (i < argc && take_switch(argv[i])) i++;
    if (lean) {
        lean_temp = CreateFileA(floor_temp, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lean_temp == INVALID_HANDLE_VALUE) return 1;
    }
    for (; i < argc; i++) {
        DWORD attributes = GetFileAttributesA(argv[i]);
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) floor_folder(argv[i]);
        else floor_file(argv[i]);
    }
    release_buffer();
    if (lean) {
        CloseHandle(lean_temp);
        DeleteFileA(floor_temp);
    }
    return 0;
}
