// Transfers at an offset of a Windows file handle, and the patience another program's brief
// hold on a file asks for.
#include "clean/clean.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

bool held_for_a_moment(int* tries) {
    if (GetLastError() != ERROR_SHARING_VIOLATION || ++*tries > 20) return false;
    Sleep(50);
    return true;
}

// A file's pointer moved, then plain transfers: under Wine one at an offset asks the server
// about completion ports each time.
static bool at_offset(void* file, uint64_t at) {
    LARGE_INTEGER where;
    where.QuadPart = LONGLONG(at);
    return SetFilePointerEx(file, where, nullptr, FILE_BEGIN);
}

// A write cut short by a filling disk is taken up again where it stopped, until it fails.
bool write_at(void* file, uint64_t at, const void* data, uint64_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (!at_offset(file, at)) return false;
    for (DWORD done = 0; size > 0; bytes += done, size -= done)
        if (!WriteFile(file, bytes, DWORD(size), &done, nullptr) || done == 0) return false;
    return true;
}

bool read_at(void* file, uint64_t at, void* data, uint64_t size) {
    DWORD done = 0;
    return at_offset(file, at) && ReadFile(file, data, DWORD(size), &done, nullptr) && done == size;
}

// The file's end set to `length`. Asked first: Wine cannot set a file's end where it already is
// on a full disk.
bool cut_at(void* file, uint64_t length) {
    LARGE_INTEGER now;
    if (GetFileSizeEx(file, &now) && uint64_t(now.QuadPart) == length) return true;
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = LONGLONG(length);
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
}

bool cut_file(const wchar_t* path, uint64_t length) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool cut = cut_at(file, length);
    return CloseHandle(file) && cut;
}

FILE* stream_of(void* file, const char* mode) {
    int descriptor = _open_osfhandle(intptr_t(file), _O_BINARY | (mode[0] == 'r' ? _O_RDONLY : 0));
    FILE* stream = descriptor < 0 ? nullptr : _fdopen(descriptor, mode);
    if (stream) setvbuf(stream, nullptr, _IOFBF, stream_buffer_size);
    else if (descriptor >= 0) _close(descriptor);
    else CloseHandle(file);
    return stream;
}
