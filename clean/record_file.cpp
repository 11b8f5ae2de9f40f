// The record of a replacement on disk: after the copy in the temporary file, so that one flush
// puts both on the disk before the source is touched, or in a file of its own while the
// replacement waits for its source.
#include "clean/clean.h"

#include <windows.h>

#include <io.h>

RecordTail record;

static uint64_t pieces_bytes() { return pieces_of(record.old_size) * sizeof source_pieces[0]; }

// The pieces' sums, then the tail, from `at`, the file's end after them; flushed with
// everything the file holds before.
static bool write_record(HANDLE file, uint64_t at) {
    seal_record(&record, source_pieces.data());
    uint64_t tail_at = at + pieces_bytes();
    return write_at(file, at, source_pieces.data(), pieces_bytes()) && write_at(file, tail_at, &record, sizeof record) &&
           cut_at(file, tail_at + sizeof record) && FlushFileBuffers(file);
}

static HANDLE temp_handle() { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(temp_stream))); }

// The temporary file of the last file of a batch is written over, not made anew: its blocks
// need neither freeing nor finding again, which cost more than a seventh of the time of a file.
bool open_temp_stream() {
    start_copy();
    int tries = 0;
    HANDLE file;
    do file = CreateFileA(temp_path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    while (file == INVALID_HANDLE_VALUE && held_for_a_moment(&tries));
    temp_stream = file == INVALID_HANDLE_VALUE ? nullptr : stream_of(file, "wb");
    return temp_stream != nullptr;
}

bool append_record() { return fflush(temp_stream) == 0 && write_record(temp_handle(), record.copy_length); }

// The record's magic wiped. Not flushed: the next file's flush takes it along, and should a
// power cut lose it, the next start finds a source that is the copy already, or still the old
// file, and writes the copy over it.
void wipe_record() {
    static const char wiped[sizeof record.magic] = {};
    write_at(temp_handle(), record.copy_length + pieces_bytes(), wiped, sizeof wiped);
    close_temp_stream();
}

bool write_waiting_record(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = write_record(file, 0);
    CloseHandle(file);
    if (written) return true;
    DeleteFileW(path);
    SetLastError(ERROR_WRITE_FAULT);  // not a name taken: no other name is tried
    return false;
}

static HANDLE open_for_reading(const wchar_t* path) {
    int tries = 0;
    HANDLE file;
    do file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    while (file == INVALID_HANDLE_VALUE && held_for_a_moment(&tries));
    return file;
}

static ReadState not_opened() {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? file_missing : file_unreadable;
}

static uint64_t record_bytes() { return pieces_bytes() + sizeof record; }

// The copy from the file's start into the WorkBuffer: unreadable when there is no memory for
// it, unsound when it fails its checksum.
static ReadState read_copy(HANDLE file) {
    ensure_work_buffer(int32_t(record.copy_length + scratch_bytes));
    if (!work_buffer.data) return file_unreadable;
    if (!read_at(file, 0, work_buffer.data, record.copy_length)) return file_unreadable;
    return checksum64(work_buffer.data, record.copy_length) == record.copy_checksum ? file_sound : file_unsound;
}

static ReadState read_open_record(HANDLE file, bool with_copy) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return file_unreadable;
    uint64_t length = uint64_t(size.QuadPart);
    if (length < sizeof record) return file_unsound;
    if (!read_at(file, length - sizeof record, &record, sizeof record)) return file_unreadable;
    if (!record_sound(record)) return file_unsound;
    uint64_t copy = with_copy ? record.copy_length : 0;
    if (length != copy + record_bytes()) return file_unsound;
    source_pieces.resize(pieces_of(record.old_size));
    if (!read_at(file, copy, source_pieces.data(), record_bytes() - sizeof record)) return file_unreadable;
    if (!pieces_sound(record, source_pieces.data())) return file_unsound;
    return with_copy ? read_copy(file) : file_sound;
}

ReadState read_record(const wchar_t* path, bool with_copy) {
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE) return not_opened();
    ReadState state = read_open_record(file, with_copy);
    CloseHandle(file);
    return state;
}

// The copy alone, or still with the temporary file's record after it when the move aside was
// cut short before the record was cut off.
ReadState read_kept_copy(const wchar_t* path, uint64_t* length) {
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE) return not_opened();
    LARGE_INTEGER size{};
    ReadState state = GetFileSizeEx(file, &size) ? file_unsound : file_unreadable;
    *length = uint64_t(size.QuadPart);
    if (state == file_unsound && (*length == record.copy_length || *length == record.copy_length + record_bytes()))
        state = read_copy(file);
    CloseHandle(file);
    return state;
}
