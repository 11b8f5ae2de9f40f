// The record of a replacement on the disk: after its copy in the temporary file, where one flush
// puts the copies and records of a group on the disk before a source is touched, or in a file of
// its own while the replacement waits for its source. Sealed with this user's key over the record
// and the copy's bytes: a checksum tells a torn record, only the seal tells whose it is.
#include "replace/replace.h"

Record record;

// The copy's tag and the seal, each under a nonce of its own, drawn together. No record is
// written that cannot be sealed: no start would ever act on it, and its source would stay
// part-way for good.
bool draw_nonces(Record* sealed) {
    unsigned char nonces[2 * nonce_bytes];
    if (!random_bytes(nonces, sizeof nonces)) return false;
    memcpy(sealed->copy_nonce, nonces, nonce_bytes);
    memcpy(sealed->seal_nonce, nonces + nonce_bytes, nonce_bytes);
    return true;
}

bool tag_copy(Record* sealed, const unsigned char* copy) {
    return gmac(copy, sealed->copy_length, sealed->copy_nonce, sealed->copy_tag);
}

bool seal_tagged_record(std::vector<unsigned char>* bytes) {
    unsigned char seal[tag_bytes];
    *bytes = record_bytes(record, source_pieces);
    if (!gmac(bytes->data(), sealed_length(bytes->size()), record.seal_nonce, seal)) return false;
    memcpy(record.seal, seal, tag_bytes);
    put_seal(bytes, seal);
    return true;
}

bool seal_record(const unsigned char* copy, std::vector<unsigned char>* bytes) {
    return draw_nonces(&record) && tag_copy(&record, copy) && seal_tagged_record(bytes);
}

// The magic of the record that ends at `end` wiped. Not flushed: should a power cut lose it,
// the next take finds sources that are their copies already, and writes them again.
void wipe_record(HANDLE file, uint64_t end) {
    static const char wiped[8] = {};
    write_at(file, end - trailer_bytes, wiped, sizeof wiped);
}

bool write_waiting_record(const std::wstring& path, const unsigned char* copy) {
    HANDLE file = create_scratch(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned char> bytes;
    bool written = seal_record(copy, &bytes) && write_at(file, 0, bytes.data(), bytes.size()) && FlushFileBuffers(file);
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

bool file_size(HANDLE file, uint64_t* size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length)) return false;
    *size = uint64_t(length.QuadPart);
    return true;
}

// The record that ends at `end`, into record and source_pieces: stale when none stands whole
// there, foreign when this user's key did not seal it, unreadable while no seal can be computed.
// In the temporary file its copy stands before it, and *start tells where; a waiting record's
// file holds the record alone.
static ReadState read_record_at_end(HANDLE file, uint64_t end, uint64_t* start) {
    unsigned char trailer[trailer_bytes];
    if (end < trailer_bytes) return file_stale;
    if (!read_at(file, end - trailer_bytes, trailer, trailer_bytes)) return file_unreadable;
    uint64_t length = record_length(trailer);
    if (length == 0 || length > end) return file_stale;
    std::vector<unsigned char> bytes(length);
    if (!read_at(file, end - length, bytes.data(), length)) return file_unreadable;
    if (!read_record_bytes(bytes.data(), bytes.size(), &record, &source_pieces)) return file_stale;
    bool in_temp = start != nullptr;
    if ((in_temp ? end - length < record.copy_length : end != length) || record.kept.empty() != in_temp)
        return file_stale;
    if (in_temp) *start = end - length - record.copy_length;
    unsigned char seal[tag_bytes];
    if (!gmac(bytes.data(), sealed_length(bytes.size()), record.seal_nonce, seal)) return file_unreadable;
    return same_tag(seal, record.seal) ? file_ours : file_foreign;
}

// The copy of record at `at` into `to`: unreadable when it cannot be read or no tag can be
// computed now, stale only when its bytes are not those the record sealed.
static ReadState read_copy(HANDLE file, uint64_t at, unsigned char* to) {
    if (!read_at(file, at, to, record.copy_length)) return file_unreadable;
    unsigned char tag[tag_bytes];
    if (!gmac(to, record.copy_length, record.copy_nonce, tag)) return file_unreadable;
    return same_tag(tag, record.copy_tag) ? file_ours : file_stale;
}

static ReadState read_copy_to_work_buffer(HANDLE file, uint64_t at) {
    ensure_work_buffer(int32_t(record.copy_length));
    return work_buffer.data ? read_copy(file, at, work_buffer.data) : file_unreadable;
}

ReadState read_unit_copy(HANDLE file, uint64_t at, std::vector<unsigned char>* copy) {
    copy->resize(size_t(record.copy_length));
    return read_copy(file, at, copy->data());
}

ReadState read_temp_unit(HANDLE file, uint64_t end, uint64_t* start) {
    record.source.clear();
    ReadState state = read_record_at_end(file, end, start);
    return state == file_ours ? read_copy_to_work_buffer(file, *start) : state;
}

ReadState read_waiting_record(const std::wstring& path) {
    record.source.clear();
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE) return not_opened();
    uint64_t size = 0;
    ReadState state = file_size(file, &size) ? read_record_at_end(file, size, nullptr) : file_unreadable;
    CloseHandle(file);
    return state;
}

ReadState read_kept_copy(const std::wstring& path) {
    HANDLE file = open_for_reading(path);
    if (file == INVALID_HANDLE_VALUE) return not_opened();
    uint64_t length = 0;
    ReadState state = file_size(file, &length) ? file_stale : file_unreadable;
    if (state == file_stale && length == record.copy_length) state = read_copy_to_work_buffer(file, 0);
    CloseHandle(file);
    return state;
}
