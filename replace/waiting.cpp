// A replacement that cannot be finished now waits: its copy stands beside the temporary file
// as "<name> (n)<ext>", the whole image where the user can see it, with its record in a file of
// its own that every take of the folder tries again. Meanwhile neither the source nor that copy
// is input to a batch.
#include "replace/replace.h"

#include <cwchar>

static std::vector<std::wstring> waiting_paths;  // sources that wait, and their copies: no input to a batch

static std::vector<std::wstring>::iterator find_waiting(const std::wstring& path) {
    auto waiting = waiting_paths.begin();
    while (waiting != waiting_paths.end() &&
           CompareStringOrdinal(waiting->c_str(), -1, path.c_str(), -1, TRUE) != CSTR_EQUAL)
        waiting++;
    return waiting;
}

void note_waiting(const std::wstring& kept, bool waits) {
    for (const std::wstring& path : {long_form(wide(record.source)), long_form(kept)}) {
        auto found = find_waiting(path);
        if (waits && found == waiting_paths.end()) waiting_paths.push_back(path);
        if (!waits && found != waiting_paths.end()) waiting_paths.erase(found);
    }
}

bool is_waiting_source() { return !waiting_paths.empty() && find_waiting(long_form(source_path)) != waiting_paths.end(); }

// The extension of the copy's format, told by its first byte.
static const wchar_t* format_extension(const unsigned char* copy) {
    if (copy[0] == 0x89) return L".png";
    if (copy[0] == 0x38) return L".psd";
    return L".jpg";
}

// "<source name> (n)<extension>", or "kept (n)<format's extension>" where that is no bare name
// that fits the file system.
static std::wstring kept_name(int n, const unsigned char* copy) {
    std::wstring name = name_in(long_form(wide(record.source)));
    size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) dot = name.size();
    std::wstring numbered = name.substr(0, dot) + L" (" + std::to_wstring(n) + L")" + name.substr(dot);
    std::u16string units(numbered.begin(), numbered.end());
    if (numbered.size() <= max_name_units && bare_name(units)) return numbered;
    return L"kept (" + std::to_wstring(n) + L")" + format_extension(copy);
}

// A waiting record's file of its own, under the first free number.
static bool write_in_free_slot(const std::wstring& folder, const unsigned char* copy, std::wstring* record_path) {
    for (int slot = 1; slot < 1000; slot++) {
        wchar_t name[32];
        swprintf(name, 32, L"xtmp_7x91x4vnq.p%03d", slot);
        *record_path = folder + name;
        if (write_waiting_record(*record_path, copy)) return true;
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

// The copy in a new file of its own, on the disk, then its record, then the copy takes its
// name: a cut before that leaves a record whose copy is missing, which the next take drops,
// and the copy still in the temporary file, which it takes up again. The rename never replaces
// a file, and only a taken name is tried under the next number.
bool keep_waiting(const std::wstring& temp, const unsigned char* copy) {
    std::wstring folder = folder_of(temp);
    HANDLE file = scratch_with_copy(temp, copy);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool moved = false;
    for (int n = 1; n < 10000; n++) {
        std::wstring kept = folder + kept_name(n, copy);
        if (GetFileAttributesW(kept.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        std::wstring name = name_in(kept), record_path;
        record.kept.assign(name.begin(), name.end());
        if (!write_in_free_slot(folder, copy, &record_path)) break;
        if (rename_held(file, kept, false)) {
            note_waiting(kept, true);
            moved = true;
            break;
        }
        DWORD error = GetLastError();
        remove_scratch(record_path);
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    record.kept.clear();
    if (!moved) delete_held(file);
    CloseHandle(file);
    return moved;
}
