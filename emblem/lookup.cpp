// Finds the stored Emblem record in a PE file: the read-only data section, the marker in the
// window near its start, the record at the offset that follows the marker.
#include "emblem/emblem.h"

#include <cstdio>
#include <cstring>

static const unsigned char marker[4] = {0x84, 0x50, 0x76, 0x00};
constexpr uint32_t amd64 = 0x8664;
constexpr uint32_t optional_header_64 = 240;  // standard optional header of a 64-bit image
constexpr uint32_t optional_header_32 = 224;
constexpr uint32_t section_header_size = 40;
constexpr int sections_searched = 6;
constexpr uint64_t max_seek = 0x7FFFFFFF;     // fseek takes a long, 32 bits on Windows

static bool seek(FILE* f, uint64_t position) {
    return position <= max_seek && fseek(f, long(position), SEEK_SET) == 0;
}

static bool read_at(FILE* f, uint64_t position, unsigned char* to, uint32_t n) {
    return seek(f, position) && fread(to, n, 1, f) == 1;
}

// File position of the raw data of the first section named ".rda..." among the first six.
static bool find_read_only_data(FILE* f, uint64_t* raw) {
    unsigned char b[24];
    if (!read_at(f, 60, b, 4)) return false;  // e_lfanew
    uint64_t signature = read_le32(b);
    if (!read_at(f, signature + 4, b, 4)) return false;  // Machine, NumberOfSections
    uint64_t optional = read_le16(b) == amd64 ? optional_header_64 : optional_header_32;
    uint64_t header = signature + 24 + optional;  // past signature and COFF header
    for (int k = 0; k < sections_searched; k++, header += section_header_size) {
        if (!read_at(f, header, b, 24)) return false;
        if (memcmp(b, ".rda", 4) == 0) {
            *raw = read_le32(b + 20);  // PointerToRawData
            return true;
        }
    }
    return false;
}

// Window position of the first marker; position 0 is not looked at. 0 when there is none.
static uint32_t find_marker(const unsigned char* window) {
    for (uint32_t p = 1; p <= emblem_last_position; p++) {
        if (memcmp(window + p, marker, sizeof marker) == 0) return p;
    }
    return 0;
}

uint32_t read_emblem_record(FILE* f, unsigned char* scan) {
    uint64_t raw = 0;
    if (!find_read_only_data(f, &raw)) return 0;
    if (!seek(f, raw + emblem_window_offset)) return 0;
    if (fread(scan, 1, emblem_window_size, f) == 0) return 0;  // a short window is searched as far as it goes
    uint32_t position = find_marker(scan);
    if (position == 0) return 0;
    uint64_t offset = read_le32(scan + position + sizeof marker);
    if (!seek(f, raw + offset)) return 0;
    auto got = static_cast<uint32_t>(fread(scan, 1, emblem_record_read, f));
    if (got == 0 || scan[0] != 'R') return 0;
    return got;
}
