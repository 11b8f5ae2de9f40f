// The Emblem: a small alpha picture stored in the program's own executable, found there,
// decoded and laid over the Canvas in white. The lookup and the decoder are portable.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

constexpr uint32_t emblem_scan_size = 1616;     // the search window and some slack
constexpr uint32_t emblem_window_offset = 40;   // the window starts this far into the section's raw data
constexpr uint32_t emblem_window_size = 1600;
constexpr uint32_t emblem_last_position = 1499; // the last window position a marker may start at
constexpr uint32_t emblem_record_read = 1000;   // bytes of the stored record read at most
constexpr uint32_t emblem_row_length = 60;      // pixels per line when placing, whatever the stored width

inline uint32_t read_le16(const unsigned char* p) { return p[0] | uint32_t(p[1]) << 8; }
inline uint32_t read_le32(const unsigned char* p) { return read_le16(p) | read_le16(p + 2) << 16; }

// A decoded picture: one alpha value (0..255) per pixel, the bottom line first.
struct Emblem {
    uint32_t width;
    uint32_t height;
    std::vector<unsigned char> alpha;  // width * height values
};

// Walks the PE headers of the executable open in `exe` to its read-only data section, searches
// the window for the marker and reads the record it points to into scan (emblem_scan_size
// zero-filled bytes). Returns the number of record bytes read, 0 when there is no record tagged "R".
uint32_t read_emblem_record(FILE* exe, unsigned char* scan);

// Unpacks a stored record of stored_size bytes; false, with emblem untouched, for a record
// that is not tagged "R", has an odd, empty or oversized picture, or whose stream runs past
// what was read, past its own end or past the picture.
bool decode_emblem(const unsigned char* stored, uint32_t stored_size, Emblem* emblem);

// White laid over a 0x00BBGGRR colour with opacity alpha / 255.
uint32_t blend_white(uint32_t colour, uint32_t alpha);

// Windows only, on the Canvas.
// The record of the program's own executable, as read_emblem_record gives it.
uint32_t find_emblem_record(unsigned char* scan);
// Blends a decoded picture so that pixel i lands at (left + i % 60, top + height - i / 60).
void blend_emblem(const Emblem& emblem, int32_t left, int32_t top);
// Finds, decodes and blends the Emblem, then presents; draws nothing when any step fails.
void draw_emblem(int32_t left, int32_t top);
