// JPEG: keeps a leading JFIF segment, the tables, the frame and the Adobe segments before the
// first scan, and everything from the scan on. A leading segment that goes gets a minimal JFIF
// segment in its place, unless that would turn the colours of RGB-coded components.
#include "clean/clean.h"

#include <cstring>

// A JFIF 1.02 APP0 segment of length 16: 72 dots per inch, no thumbnail.
static const unsigned char jfif_segment[18] = {0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                               0x01, 0x02, 0x01, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00};

static bool leading_dropped;  // the segment after SOI went: a JFIF segment may take its place

// What decoders go by, at the first scan, to read three components as RGB rather than YCbCr.
static int frame_components;  // of the last frame
static bool frame_names_rgb;  // its components are named 'R', 'G', 'B'
static int adobe_transform;   // of the last Adobe segment long enough for decoders to read; -1 for none

enum SegmentAction { copy_to_end, drop_segment, keep_segment };

static SegmentAction action_for(unsigned char m0, unsigned char m1) {
    if (m0 != 0xFF) return keep_segment;                    // not a marker: kept with its length
    if (m1 >= 0xD0 && m1 <= 0xDA) return copy_to_end;       // RSTn, SOI, EOI, SOS: the scan
    if (m1 >= 0xE0 && m1 <= 0xFE) return drop_segment;      // APPn, JPGn, COM
    if (m1 >= 0x01 && m1 <= 0xBF) return drop_segment;      // TEM and reserved
    return keep_segment;                                    // SOFn, DHT, DAC, DQT, DNL, DRI, DHP, EXP, 00
}

static bool is_frame(unsigned char m1) {
    return m1 >= 0xC0 && m1 <= 0xCF && m1 != 0xC4 && m1 != 0xC8 && m1 != 0xCC;  // SOFn
}

bool starts_jpeg(unsigned char marker) {
    if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) return true;  // APPn, COM
    return is_frame(marker) || marker == 0xC4 || marker == 0xCC || marker == 0xDB || marker == 0xDD;  // tables
}

// Reads a segment after its marker to the copy's end, not yet part of the copy: two marker bytes,
// two length bytes, the body. The checks below read it there.
static bool read_segment(const unsigned char* m, int64_t* position, uint32_t* body_length) {
    unsigned char* s = copy_end();
    if (source_size - *position < 2 || !copy_has_room(4)) return false;
    s[0] = m[0];
    s[1] = m[1];
    if (!read_block(s + 2, 2)) return false;
    uint32_t length = read_be16(s + 2);
    if (length < 2 || length > source_size - *position || !copy_has_room(length + 2)) return false;
    *body_length = length - 2;
    *position += length;
    return read_block(s + 4, *body_length);
}

// Adobe's APP14 tells decoders how CMYK, YCCK and RGB colours are stored: needed for display.
static bool is_adobe_segment(const unsigned char* s, uint32_t body_length) {
    return s[0] == 0xFF && s[1] == 0xEE && body_length >= 5 && memcmp(s + 4, "Adobe", 5) == 0;
}

static bool is_jfif_segment(const unsigned char* s, uint32_t body_length) {
    return (s[1] == 0xE0 || s[1] == 0xE1) && body_length >= 4 && memcmp(s + 4, "JFIF", 4) == 0;
}

static bool is_kept(const unsigned char* s, uint32_t body_length) {
    return action_for(s[0], s[1]) == keep_segment || is_adobe_segment(s, body_length);
}

// Decoders read an Adobe segment's transform only from 12 bytes of body on.
static void note_colours(const unsigned char* s, uint32_t body_length) {
    if (is_adobe_segment(s, body_length) && body_length >= 12) adobe_transform = s[4 + 11];
    if (s[0] != 0xFF || !is_frame(s[1]) || body_length < 6) return;
    frame_components = s[4 + 5];
    frame_names_rgb = body_length >= 15 && s[4 + 6] == 'R' && s[4 + 9] == 'G' && s[4 + 12] == 'B';
}

static bool copy_segment(uint32_t body_length) {
    note_colours(copy_end(), body_length);
    return write_block(copy_end(), body_length + 4);
}

// A JFIF segment tells decoders that three components are YCbCr.
static bool coded_as_rgb() {
    if (frame_components != 3) return false;
    return adobe_transform >= 0 ? adobe_transform == 0 : frame_names_rgb;
}

// SOI and the leading segment: a JFIF or Adobe segment, a table or a frame stays; any other
// application segment or comment goes.
static bool copy_leading_segment(int64_t* position) {
    uint32_t body_length;
    if (!write_block(head_bytes, 2) || !read_segment(head_bytes + 2, position, &body_length)) return false;
    leading_dropped = !is_jfif_segment(copy_end(), body_length) && !is_kept(copy_end(), body_length);
    return leading_dropped || copy_segment(body_length);
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

static bool put_jfif_after_soi() {
    if (!copy_has_room(sizeof jfif_segment)) return false;
    unsigned char* after_soi = work_buffer.data + 2;
    memmove(after_soi + sizeof jfif_segment, after_soi, size_t(copy_size - 2));
    memcpy(after_soi, jfif_segment, sizeof jfif_segment);
    copy_size += sizeof jfif_segment;
    return true;
}

// Decided at the first scan or the file's end: an Adobe segment after the frame still decides
// how decoders read its colours.
static bool finish_head() { return !leading_dropped || coded_as_rgb() || put_jfif_after_soi(); }

static bool copy_rest_of_file(const unsigned char* m, int64_t position) {
    uint32_t tail = uint32_t(source_size - position);
    if (!finish_head() || !write_block(m, 2) || !copy_has_room(tail)) return false;
    return read_block(copy_end(), tail) && write_block(copy_end(), tail);
}

static bool copy_segments(int64_t position) {
    unsigned char m[2];
    uint32_t body_length;
    while (position < source_size) {
        if (!read_marker(&position, m)) return false;
        if (action_for(m[0], m[1]) == copy_to_end) return copy_rest_of_file(m, position);
        if (!read_segment(m, &position, &body_length)) return false;
        if (is_kept(copy_end(), body_length) && !copy_segment(body_length)) return false;
    }
    return finish_head();
}

bool filter_jpeg() {
    start_copy();
    frame_components = 0;
    frame_names_rgb = false;
    adobe_transform = -1;
    int64_t position = 4;
    return copy_leading_segment(&position) && copy_segments(position);
}
