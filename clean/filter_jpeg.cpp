// JPEG: keeps the leading JFIF segment (or puts a minimal one in place of a leading Exif
// segment), the tables and frame before the first scan, and everything from the scan on.
#include "clean/clean.h"

#include <cstring>

// FF D8, then a JFIF 1.02 APP0 segment of length 16: 72 dots per inch, no thumbnail.
static const unsigned char jfif_head[10] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
static const unsigned char jfif_rest[10] = {0x00, 0x01, 0x02, 0x01, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00};

enum SegmentAction { copy_to_end, drop_segment, keep_segment };

static SegmentAction action_for(unsigned char m0, unsigned char m1) {
    if (m0 != 0xFF) return keep_segment;                    // not a marker: kept with its length
    if (m1 >= 0xD0 && m1 <= 0xDA) return copy_to_end;       // RSTn, SOI, EOI, SOS: the scan
    if (m1 >= 0xE0 && m1 <= 0xFE) return drop_segment;      // APPn, JPGn, COM
    if (m1 >= 0x01 && m1 <= 0xBF) return drop_segment;      // TEM and reserved
    return keep_segment;                                    // SOFn, DHT, DAC, DQT, DNL, DRI, DHP, EXP, 00
}

// Adobe's APP14 tells decoders how CMYK and YCCK colours are stored: needed for display.
static bool is_adobe_segment(unsigned char m1, const unsigned char* body, uint32_t body_length) {
    return m1 == 0xEE && body_length >= 5 && memcmp(body, "Adobe", 5) == 0;
}

// SOI and the first segment, whose first ten bytes are already in the WorkBuffer. An Exif
// segment's rest is read past the fixed head and dropped there.
static bool copy_first_segment(int64_t* position) {
    uint32_t length = read_be16(head_bytes + 4);
    if (length < 6) return false;  // shorter than its own length and identifier fields
    uint32_t rest = length - 6;
    if (10 + int64_t(rest) > source_size || !copy_has_room(10 + int64_t(rest))) return false;
    bool ok = jpeg_is_exif ? write_block(jfif_head, 10) && read_block(copy_end(), rest) && write_block(jfif_rest, 10)
                           : write_block(head_bytes, 10) && read_block(copy_end(), rest) && write_block(copy_end(), rest);
    *position = int64_t(length) + 4;
    return ok;
}

// Reads the marker at *position; fill bytes (FF FF ...) before it are passed over, not copied.
static bool read_marker(int64_t* position, unsigned char* m) {
    if (source_size - *position < 2 || !read_block(m, 2)) return false;
    *position += 2;
    while (m[0] == 0xFF && m[1] == 0xFF) {
        if (*position >= source_size || !read_block(m + 1, 1)) return false;
        *position += 1;
    }
    return true;
}

static bool copy_rest_of_file(const unsigned char* m, int64_t position) {
    uint32_t tail = uint32_t(source_size - position);
    if (!write_block(m, 2) || !copy_has_room(tail)) return false;
    return read_block(copy_end(), tail) && write_block(copy_end(), tail);
}

// One segment after its marker, read to the copy's end: two length bytes and the body, kept
// there or dropped.
static bool copy_segment(const unsigned char* m, int64_t* position) {
    unsigned char* b = copy_end();
    if (source_size - *position < 2 || !copy_has_room(4)) return false;
    b[0] = m[0];
    b[1] = m[1];
    if (!read_block(b + 2, 2)) return false;
    uint32_t length = read_be16(b + 2);
    if (length < 2 || length > source_size - *position || !copy_has_room(length + 2)) return false;
    uint32_t body_length = length - 2;
    if (!read_block(b + 4, body_length)) return false;
    *position += length;
    bool keep = action_for(m[0], m[1]) == keep_segment || is_adobe_segment(m[1], b + 4, body_length);
    return !keep || write_block(b, length + 2);
}

static bool copy_segments(int64_t position) {
    unsigned char m[2];
    while (position < source_size) {
        if (!read_marker(&position, m)) return false;
        if (action_for(m[0], m[1]) == copy_to_end) return copy_rest_of_file(m, position);
        if (!copy_segment(m, &position)) return false;
    }
    return true;
}

bool filter_jpeg() {
    if (!start_copy()) return false;
    int64_t position = 0;
    bool ok = copy_first_segment(&position) && copy_segments(position);
    return end_copy(ok);
}
