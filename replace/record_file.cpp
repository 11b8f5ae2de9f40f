// The record of a replacement on the disk: after the copy in the temporary file, so that one
// flush puts both on the disk before the source is touched, or in a file of its own while the
// replacement waits for its source. Sealed with this user's key over the record and the copy's
// bytes: a checksum tells a torn record, only the seal tells whose it is.
#include "replace/replace.h"

Record record;

// The copy's tag and the seal, each under a nonce of its own. No record is written that cannot
// be sealed: no start would ever act on it, and its source would stay part-way for good.
static bool sealed_bytes(std::vector<unsigned char>* bytes) {
    unsigned char nonces[2 * nonce_bytes], seal[tag_bytes];
    if (!random_bytes(nonces, sizeof nonces)) return false;
    memcpy(record.copy_nonce, nonces, nonce_bytes);
    memcpy(record.seal_nonce, nonces + nonce_bytes, nonce_bytes);
    if (!gmac(work_buffer.data, record.copy_length, record.copy_nonce, record.copy_tag)) return false;
    *bytes = record_bytes(record, source_pieces);
    if (!gmac(bytes->data(), sealed_length(bytes->size()), record.seal_nonce, seal)) return false;
    memcpy(record.seal, seal, tag_bytes);
    put_seal(bytes, seal);
    return true;
}

// From `at`, the file's end after it; flushed with everything the file holds before.
static bool write_record(HANDLE file, uint64_t at) {
    std::vector<unsigned char> bytes;
    return sealed_bytes(&bytes) && write_at(file, at, bytes.data(), bytes.size()) && cut_at(file, at + bytes.size()) &&
           FlushFileBuffers(file);
}

bool append_record(HANDLE file) { return write_record(file, record.copy_length); }

// The record's magic wiped. Not flushed: the next file's flush takes it along, and should a
// power cut lose it, the next take finds a source that is the copy already, or still the old
// file, and writes the copy over it.
void wipe_record(HANDLE file) {
    static const char wiped[8] = {};
    write_at(file, record.copy_length + record_size(record) - trailer_bytes, wiped, sizeof wiped);
}

bool write_waiting_record(const std::wstring& path) {
    HANDLE file = create_scratch(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = write_record(file, 0);
    if (!written) delete_held(file);
    CloseHandle(file);
    if (!written) SetLastError(ERROR_WRITE_FAULT);  // not a name taken: no other name is tried
    return written;
}

static HANDLE open_for_reading(const std::wstring& path) {
    int tries = 0;
    HANDLE file;
    do file = open_scratch(path, GENERIC_READ, FILE_SHARE_READ);
    while (file == INVALID_HANDLE_VALUE && held_for_a_moment(&tries));
    return file;
}

static ReadState not_opened() {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? file_missing : file_unreadable;
}

static bool file_size(HANDLE file, uint64_t* size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length)) return false;
    *size = uint64_t(length.QuadPart);
    return true;
}

// The record that ends a file of `size` bytes, into record and source_pieces: stale when none
// stands whole there, foreign when this user's key did not seal it, unreadable while no seal
// can be computed. `before` is what the file
// holds ahead of the record: the copy in the temporary file, nothing in a waiting record's.
static ReadState read_record_at_end(HANDLE file, uint64_t size, bool copy_before) {
    unsigned char trailer[trailer_bytes];
    if (size < trailer_bytes) return file_stale;
    if (!read_at(file, size - trailer_bytes, trailer, trailer_bytes)) return file_unreadable;
    uint64_t length = record_length(trailer);
    if (length == 0 || length > size) return file_stale;
    std::vector<unsigned char> bytes(length);
    if (!read_at(file, size - length, bytes.data(), length)) return file_unreadable;
    if (!read_record_bytes(bytes.data(), bytes.size(), &record, &source_pieces)) return file_stale;
    if (size != (copy_before ? record.copy_length : 0) + length || record.kept.empty() == !copy_before)
        return file_stale;
    unsigned char seal[tag_bytes];
    if (!gmac(bytes.data(), sealed_length(bytes.size()), record.seal_nonce, seal)) return file_unreadable;
    return same_tag(seal, record.seal) ? file_ours : file_foreign;
}

// The copy from the file's start into the WorkBuffer: unreadable when there is no memory for
// it or no tag can be computed now, stale only when its bytes are not those the record sealed.
static ReadState read_copy(HANDLE file) {
    ensure_work_buffer(int32_t(record.copy_length));
    if (!work_buffer.data) return file_unreadable;
    if (!read_at(file, 0, work_buffer.data, record.copy_length)) return file_unreadable;
    unsigned char tag[tag_bytes];
    if (!gmac(work_buffer.data, record.copy_length, record.copy_nonce, tag)) return file_unreadable;
    return same_tag(tag, record.copy_tag) ? file_ours : file_stale;
}

ReadState read_temp_record(HANDLE file) {
    record.source.clear();
    uint64_t size = 0;
    if (!file_size(file, &size)) return file_unreadable;
    ReadState state = read_record_at_end(file, size, true);
    return state == file_ours ? read_copy(file) : state;
}

ReadState read_waiting_record(const std::wstring& path) {
    record.source.clear();
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE) return not_opened();
    uint64_t size = 0;
    ReadState state = file_size(file, &size) ? read_record_at_end(file, size, false) : file_unreadable;
    CloseHandle(file);
    return state;
}

// The copy alone, or still with the temporary file's record after it when the move aside was
// cut short before the record was cut off.
ReadState read_kept_copy(const std::wstring& path, uint64_t* length) {
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE) return not_opened();
    *length = 0;
    ReadState state = file_size(file, length) ? file_stale : file_unreadable;
    uint64_t temp_record = record_size(record) - 2 * record.kept.size();
    if (state == file_stale && (*length == record.copy_length || *length == record.copy_length + temp_record))
        state = read_copy(file);
    CloseHandle(file);
    return state;
}
