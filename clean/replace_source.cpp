// The reduced copy written over the source in place, so that the file keeps its identity,
// security settings and attributes. The write is journalled: a record beside temp_path names
// the copy and the source before the first byte changes, and deleting it is the commit, so that
// a process killed at any instant leaves a replacement that the next start finishes. A record
// is deleted by emptying its file, which stays open through a batch and goes at its end: under
// Wine, a file made and deleted for each record cost four times as much.
#include "clean/clean.h"
#include "batch/batch.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

uint64_t first_size;
bool copy_kept_at_temp;

static FILETIME creation_time;    // the source's, put back after cleaning
static FILETIME last_write_time;  // likewise; with the size, tells whether another program saved it since
static JournalRecord record;      // the replacement in hand, or the interrupted one being finished
static HANDLE journal_handle = INVALID_HANDLE_VALUE;  // kept open through a batch: writing and emptying it is all a record costs
static char journal_of[path_size];                    // the temp_path whose journal that is

static const char journal_name[] = "xtmp_7x91x4vnq.jrnl";

static HANDLE open_existing(const char* path, DWORD access) {
    return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static HANDLE open_recorded_source(DWORD access) {
    return CreateFileW(record.source, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static uint64_t ticks(FILETIME time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

static FILETIME file_time(uint64_t ticks) { return {DWORD(ticks), DWORD(ticks >> 32)}; }

// Size and times of an open file. Not GetFileInformationByHandle: under Wine that asks the
// mount manager for the volume's serial number, a round trip to another process per call.
static bool size_and_times(HANDLE file, uint64_t* size, FILETIME* creation, FILETIME* last_write) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length) || !GetFileTime(file, creation, nullptr, last_write)) return false;
    *size = uint64_t(length.QuadPart);
    return true;
}

// The file system's own number of an open file, which writes leave as it is: the creation time
// cannot tell the file under Wine, where it follows the last write, nor on Windows, where a file
// saved anew under the same name within seconds inherits it. Not GetFileInformationByHandleEx:
// under Wine its volume serial number costs a round trip to the mount manager.
static bool file_index(HANDLE file, uint64_t* index) {
    IO_STATUS_BLOCK status;
    FILE_INTERNAL_INFORMATION internal;
    if (NtQueryInformationFile(file, &status, &internal, sizeof internal, FileInternalInformation) != 0) return false;
    *index = uint64_t(internal.IndexNumber.QuadPart);
    return true;
}

// A file another program holds open is skipped: the handle asks for exclusive access. The
// whole 64-bit size counts.
bool take_size_and_times() {
    HANDLE file = open_existing(source_path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = size_and_times(file, &first_size, &creation_time, &last_write_time);
    CloseHandle(file);
    return ok;
}

// The handle, if its file is still what was read: when another program saved it meanwhile,
// its newer save wins and the source is neither replaced nor given its old times.
static HANDLE if_unchanged(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE) return file;
    uint64_t size = 0;
    FILETIME creation, last_write;
    if (size_and_times(file, &size, &creation, &last_write) && size == first_size &&
        CompareFileTime(&last_write, &last_write_time) == 0)
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

void put_times_back() {
    HANDLE file = if_unchanged(open_existing(source_path, GENERIC_READ | GENERIC_WRITE));
    if (file == INVALID_HANDLE_VALUE) return;
    SetFileTime(file, &creation_time, nullptr, &last_write_time);
    CloseHandle(file);
}

// Copying over a read-only, hidden or system file fails on Windows; asking first keeps that
// true wherever the file system would let the copy through (Wine run as root does). Asked by
// name: that is how Wine tells a hidden dot-file.
static bool refused_by_attributes(DWORD attributes) {
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

// The journal's path: beside temp_path, under a fixed name of the same length.
static void journal_path(char* path) {
    const char* name = strrchr(temp_path, '\\');
    size_t folder_length = name ? size_t(name + 1 - temp_path) : 0;
    snprintf(path, path_size, "%.*s%s", int(folder_length), temp_path, journal_name);
}

// The file's end set to `length` wherever its pointer stands. Asked first: Wine cannot set a
// file's end where it already is on a full disk.
static bool cut_at(HANDLE file, uint64_t length) {
    LARGE_INTEGER now;
    if (GetFileSizeEx(file, &now) && uint64_t(now.QuadPart) == length) return true;
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = LONGLONG(length);
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
}

// Processes that clean through one temporary path share its journal, each writing it only
// while it holds the mutex. None lets it be deleted meanwhile: a record in a file pending
// deletion would vanish with a kill.
static HANDLE open_journal_file(DWORD disposition) {
    char path[path_size];
    journal_path(path);
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

static void close_journal() {
    if (journal_handle != INVALID_HANDLE_VALUE) CloseHandle(journal_handle);
    journal_handle = INVALID_HANDLE_VALUE;
}

// The journal of temp_path, opened at its first record in a batch and kept open to its end.
static HANDLE journal() {
    if (journal_handle != INVALID_HANDLE_VALUE && strcmp(journal_of, temp_path) == 0) return journal_handle;
    close_journal();
    journal_handle = open_journal_file(OPEN_ALWAYS);
    strcpy(journal_of, temp_path);
    return journal_handle;
}

// Written only after the copy is complete and closed, and before the source is touched.
static bool write_journal() {
    seal_journal_record(&record);
    HANDLE file = journal();
    OVERLAPPED at_start{};
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, &record, sizeof record, &written, &at_start) &&
              written == sizeof record && cut_at(file, sizeof record);
    if (!ok && file != INVALID_HANDLE_VALUE) cut_at(file, 0);
    return ok;
}

// The commit: from here on nothing is left to finish.
static void empty_journal() {
    HANDLE file = journal();
    if (file != INVALID_HANDLE_VALUE) cut_at(file, 0);
}

enum JournalState { no_journal, torn_journal, sound_journal, unreadable_journal };

// An empty journal holds no record.
static JournalState read_journal() {
    HANDLE file = open_journal_file(OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? no_journal : unreadable_journal;
    }
    DWORD got = 0;
    LARGE_INTEGER size;
    bool sized = GetFileSizeEx(file, &size);
    bool whole = sized && size.QuadPart == LONGLONG(sizeof record) &&
                 ReadFile(file, &record, sizeof record, &got, nullptr) && got == sizeof record;
    CloseHandle(file);
    if (sized && size.QuadPart == 0) return no_journal;
    return whole && journal_record_sound(record) ? sound_journal : torn_journal;
}

// This process's handle goes first, so that whichever process ends its batch last can delete
// the journal; one still in a batch holds it open, and deletes it at its own end.
void tidy_journal() {
    close_journal();
    char path[path_size];
    journal_path(path);
    // What a killed brinq.exe can leave: the journal, the copy.
    bool left_over = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ||
                     GetFileAttributesA(temp_path) != INVALID_FILE_ATTRIBUTES;
    if (!left_over || !take_lock_if_free()) return;
    if (read_journal() == no_journal) DeleteFileA(path);
    release_lock();
}

// Read in pieces of this size, each summed while it is still in the processor's cache.
constexpr size_t summed_piece = 1 << 20;

// The copy at temp_path read into the WorkBuffer, and its checksum; false unless it is exactly
// `length` bytes long.
static bool read_copy(uint64_t length, uint64_t* checksum) {
    if (length > uint64_t(max_copy_size)) return false;
    FILE* copy = fopen(temp_path, "rb");
    if (!copy) return false;
    ensure_work_buffer(int32_t(length));
    Checksum sum;
    checksum_start(&sum);
    bool ok = work_buffer.data != nullptr;
    for (size_t at = 0; ok && at < length; at += summed_piece) {
        size_t piece = std::min(summed_piece, size_t(length) - at);
        ok = fread(work_buffer.data + at, piece, 1, copy) == 1;
        checksum_add(&sum, work_buffer.data + at, piece);
    }
    ok = ok && fgetc(copy) == EOF;
    fclose(copy);
    *checksum = checksum_end(sum);
    return ok;
}

// What the journal holds of the replacement in hand, the copy read back; false when the copy
// is not what the filter wrote or the source's full path does not fit the record.
static bool fill_record() {
    wchar_t path[path_size];
    memset(&record, 0, sizeof record);
    if (!MultiByteToWideChar(CP_ACP, 0, source_path, -1, path, path_size)) return false;
    DWORD length = GetFullPathNameW(path, journal_path_size, record.source, nullptr);
    if (length == 0 || length >= journal_path_size) return false;
    record.copy_length = uint64_t(copy_size);
    if (!read_copy(record.copy_length, &record.copy_checksum)) return false;
    record.old_size = first_size;
    record.creation_time = ticks(creation_time);
    record.last_write_time = ticks(last_write_time);
    return true;
}

static bool move_file_pointer(HANDLE file, uint64_t to) {
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(to);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
}

enum Written { untouched, written, damaged };

// A copy longer than the file's `size` bytes first writes what lies past that end, so that a
// full disk refuses it before a byte of the source has changed. Whichever step fails, the file
// is cut back to `size`, which no failed seek can change.
static Written make_room(HANDLE file, uint64_t size) {
    if (record.copy_length <= size) return written;
    DWORD tail = DWORD(record.copy_length - size), done = 0;
    if (move_file_pointer(file, size) && WriteFile(file, work_buffer.data + size, tail, &done, nullptr) &&
        done == tail && move_file_pointer(file, 0))
        return written;
    if (!cut_at(file, size)) return damaged;
    SetFileTime(file, &creation_time, nullptr, &last_write_time);
    return untouched;
}

// The whole copy from the file's start, cut to its length, the times put back.
static bool write_copy(HANDLE file) {
    DWORD done = 0;
    return WriteFile(file, work_buffer.data, DWORD(record.copy_length), &done, nullptr) &&
           done == record.copy_length && cut_at(file, record.copy_length) &&
           SetFileTime(file, &creation_time, nullptr, &last_write_time);
}

// A second try on a fresh handle, for a source that a failed write left damaged.
static bool write_copy_again() {
    HANDLE file = open_recorded_source(GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool done = write_copy(file);
    return CloseHandle(file) && done;
}

static const wchar_t* name_in(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; p++)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    return name;
}

// The extension of the copy's format, told by its first byte.
static const wchar_t* format_extension() {
    if (work_buffer.data[0] == 0x89) return L".png";
    if (work_buffer.data[0] == 0x38) return L".psd";
    return L".jpg";
}

// Nothing more is cleaned by this process, which keeps the mutex until it ends.
static void hold_copy_at_temp() {
    copy_kept_at_temp = true;
    abort_requested = 1;
}

// The copy moves aside, beside temp_path, as "<source name> (n)<extension>", or as
// "kept (n)<format's extension>" where that would not fit a path; the latter always fits where
// the temporary name does. MoveFileW never replaces a file. False when every name was taken.
static bool keep_copy() {
    wchar_t temp[path_size], kept[path_size];
    if (!MultiByteToWideChar(CP_ACP, 0, temp_path, -1, temp, path_size)) return false;
    const wchar_t* name = name_in(record.source);
    const wchar_t* extension = wcsrchr(name, L'.');
    if (!extension) extension = name + wcslen(name);
    int folder_length = int(name_in(temp) - temp);
    for (int n = 1; n < 10000; n++) {
        int length = swprintf(kept, path_size, L"%.*ls%.*ls (%d)%ls", folder_length, temp, int(extension - name),
                              name, n, extension);
        if (length < 0 || length >= path_size)
            swprintf(kept, path_size, L"%.*lskept (%d)%ls", folder_length, temp, n, format_extension());
        if (MoveFileW(temp, kept)) return true;
    }
    return false;
}

// The source is no longer sure to be whole: the copy goes aside. Where every name is taken it
// stays at temp_path with its journal, and this process holds the mutex until it ends, so that
// no other brinq.exe overwrites it; the journal tells the next start what it is.
static Replacement keep_aside() {
    if (keep_copy()) empty_journal();
    else hold_copy_at_temp();
    return kept;
}

// After make_room; closes the file. A write over the source that fails part-way leaves it
// damaged, so it is tried once more; if that fails too, the copy is the only whole image.
static Replacement write_over(HANDLE file, Written room) {
    bool done = room == written && write_copy(file);
    done = CloseHandle(file) && done;
    if (room == untouched) return refused;
    if (!done && !write_copy_again()) return keep_aside();
    DeleteFileA(temp_path);
    empty_journal();
    return replaced;
}

Replacement replace_source() {
    if (refused_by_attributes(GetFileAttributesA(source_path)) || !fill_record()) return refused;
    HANDLE file = if_unchanged(open_recorded_source(GENERIC_READ | GENERIC_WRITE));
    if (file == INVALID_HANDLE_VALUE) return refused;
    if (!file_index(file, &record.file_index) || !write_journal()) {
        CloseHandle(file);
        return refused;
    }
    Replacement outcome = write_over(file, make_room(file, first_size));
    if (outcome == refused) empty_journal();
    return outcome;
}

// The interrupted source, if it is still the file that was being replaced: the same file, of a
// size between its old one and the copy's, both included. `size` is its size now.
static HANDLE open_interrupted_source(uint64_t* size) {
    if (refused_by_attributes(GetFileAttributesW(record.source))) return INVALID_HANDLE_VALUE;
    HANDLE file = open_recorded_source(GENERIC_READ | GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return file;
    LARGE_INTEGER length;
    uint64_t index = 0;
    uint64_t low = std::min(record.old_size, record.copy_length), high = std::max(record.old_size, record.copy_length);
    if (GetFileSizeEx(file, &length) && file_index(file, &index) && index == record.file_index) {
        *size = uint64_t(length.QuadPart);
        if (*size >= low && *size <= high) return file;
    }
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

// Counts in no batch: the file was counted when it was cleaned.
void finish_interrupted_replacement() {
    JournalState state = read_journal();
    // A record that is there but cannot be read may guard the only whole image.
    if (state == unreadable_journal) {
        hold_copy_at_temp();
        return;
    }
    if (state != sound_journal) {
        // No source is touched before a whole record stands: the copy, if any, is stale.
        DeleteFileA(temp_path);
        if (state == torn_journal) empty_journal();
        return;
    }
    // A copy that fails its check is never written over anything. Without a copy the
    // replacement had got as far as deleting it, and only the commit was missing.
    uint64_t checksum = 0;
    if (!read_copy(record.copy_length, &checksum) || checksum != record.copy_checksum) {
        DeleteFileA(temp_path);
        empty_journal();
        return;
    }
    creation_time = file_time(record.creation_time);
    last_write_time = file_time(record.last_write_time);
    uint64_t size = 0;
    HANDLE file = open_interrupted_source(&size);
    // A source that is gone or was changed meanwhile is left alone, and its copy kept.
    if (file == INVALID_HANDLE_VALUE || write_over(file, make_room(file, size)) == refused) keep_aside();
}
