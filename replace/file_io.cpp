// Transfers at an offset of a Windows file handle, the stream over one, and the patience another
// program's brief hold on a file asks for.
#include "replace/replace.h"

#include <fcntl.h>
#include <io.h>

bool held_for_a_moment(int* tries) {
    if (GetLastError() != ERROR_SHARING_VIOLATION || ++*tries > 20) return false;
    Sleep(50);
    return true;
}

// A file's pointer moved, then plain transfers: under Wine one at an offset asks the server
// about completion ports each time.
static bool at_offset(HANDLE file, uint64_t at) {
    LARGE_INTEGER where;
    where.QuadPart = LONGLONG(at);
    return SetFilePointerEx(file, where, nullptr, FILE_BEGIN);
}

// A write cut short by a filling disk is taken up again where it stopped, until it fails.
bool write_at(HANDLE file, uint64_t at, const void* data, uint64_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (!at_offset(file, at)) return false;
    for (DWORD done = 0; size > 0; bytes += done, size -= done)
        if (!WriteFile(file, bytes, DWORD(size), &done, nullptr) || done == 0) return false;
    return true;
}

bool read_at(HANDLE file, uint64_t at, void* data, uint64_t size) {
    DWORD done = 0;
    return at_offset(file, at) && ReadFile(file, data, DWORD(size), &done, nullptr) && done == size;
}

// The file's end set to `length`. Asked first: Wine cannot set a file's end where it already is
// on a full disk.
bool cut_at(HANDLE file, uint64_t length) {
    LARGE_INTEGER now;
    if (GetFileSizeEx(file, &now) && uint64_t(now.QuadPart) == length) return true;
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = LONGLONG(length);
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
}

FILE* stream_of(HANDLE file, const char* mode) {
    int descriptor = _open_osfhandle(intptr_t(file), _O_BINARY | (mode[0] == 'r' ? _O_RDONLY : 0));
    FILE* stream = descriptor < 0 ? nullptr : _fdopen(descriptor, mode);
    if (stream) setvbuf(stream, nullptr, _IOFBF, stream_buffer_size);
    else if (descriptor >= 0) _close(descriptor);
    else CloseHandle(file);
    return stream;
}

