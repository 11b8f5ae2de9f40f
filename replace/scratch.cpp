// The files the program keeps for itself (the temporary file, waiting records, waiting copies)
// are never read, written, cut or deleted through a link: one planted at such a name in a shared
// folder would turn a write or a deletion onto whatever it points to. Windows shows a link as a
// reparse point and a hard link by its count of names; Wine shows neither for a Unix link, and
// deletes what one points to. So a scratch name that must go is never deleted: a new file of the
// program's own is renamed over it, which replaces the name, a link included, and never what a
// link points to.
#include "replace/replace.h"

#include <cwchar>

// Neither a reparse point nor a file of several names.
static bool plain_file(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    FILE_STANDARD_INFO standard;
    return GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
           GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
           !(tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
           standard.NumberOfLinks == 1;
}

HANDLE open_scratch(const std::wstring& path, DWORD access, DWORD share) {
    HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE || plain_file(file)) return file;
    CloseHandle(file);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
}

HANDLE create_scratch(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, private_attributes(), CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool rename_held(HANDLE file, const std::wstring& to, bool replace) {
    std::vector<unsigned char> bytes(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(bytes.data());
    rename->ReplaceIfExists = replace;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = DWORD(to.size() * sizeof(wchar_t));
    memcpy(rename->FileName, to.c_str(), (to.size() + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, rename, DWORD(bytes.size()));
}

bool delete_held(HANDLE file) {
    FILE_DISPOSITION_INFO gone = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
}

// A name of this process's own beside `path`, new each time.
static std::wstring new_name_beside(const std::wstring& path) {
    static unsigned counter;
    wchar_t name[40];
    swprintf(name, 40, L"xtmp_7x91x4vnq.n%08lx%04x", GetCurrentProcessId(), ++counter & 0xFFFF);
    return folder_of(path) + name;
}

HANDLE new_scratch_beside(const std::wstring& path) {
    for (int tries = 0; tries < 100; tries++) {
        HANDLE file = create_scratch(new_name_beside(path));
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

static void drop_scratch(HANDLE file) {
    delete_held(file);
    CloseHandle(file);
}

bool put_over(HANDLE file, const std::wstring& path) {
    if (rename_held(file, path, true)) return true;
    drop_scratch(file);
    return false;
}

HANDLE scratch_with_copy(const std::wstring& beside, const unsigned char* copy) {
    HANDLE file = new_scratch_beside(beside);
    if (file == INVALID_HANDLE_VALUE) return file;
    bool written = write_at(file, 0, copy, record.copy_length) && FlushFileBuffers(file);
    if (written) return file;
    drop_scratch(file);
    return INVALID_HANDLE_VALUE;
}

bool remove_scratch(const std::wstring& path) {
    HANDLE file = new_scratch_beside(path);
    if (file == INVALID_HANDLE_VALUE || !put_over(file, path)) return false;
    bool gone = delete_held(file);
    CloseHandle(file);
    return gone;
}
