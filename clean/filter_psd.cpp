// PSD: keeps the image resources a document needs and copies everything else unchanged.
// Pass 1 measures the kept blocks from their sizes alone; pass 2 writes front to back.
#include "clean/clean.h"

constexpr uint32_t max_length = 0x7FFFFFFF;        // sizes are signed 32-bit in the format
constexpr int64_t header_size = 26;                // signature to colour mode
constexpr int64_t min_block = 12;                  // signature, ID, empty name, size

constexpr uint32_t version_info = 1057;
constexpr uint32_t merged_flag_at = 4;  // hasRealMergedData, after the 4-byte version

static bool is_kept_id(uint32_t id) {
    switch (id) {
    case 1005:  // ResolutionInfo
    case 1006:  // alpha channel names
    case 1007:  // DisplayInfo
    case 1011:  // print flags
    case 1012:  // grayscale and multichannel halftoning
    case 1013:  // colour halftoning
    case 1015:  // grayscale and multichannel transfer function
    case 1016:  // colour transfer functions
    case 1024:  // layer state
    case 1026:  // layers group
    case 1032:  // grid and guides
    case 1034:  // protected-work flag
    case 1039:  // ICC profile
    case 1044:  // document-specific IDs seed
    case 1045:  // Unicode alpha names
    case 1053:  // alpha identifiers
    case 10000: // print flags information
        return true;
    default:    // thumbnails, IPTC, Exif, XMP, paths, slices, plug-in data, unknown IDs
        return false;
    }
}

// The lengths that place the resource section; both passes read them the same way.
struct PsdLayout {
    uint32_t colour_data;  // colour mode data length (a palette for indexed documents)
    uint32_t section;      // image resource section length
};

// Where one block's head (signature, ID, padded Pascal name, size) ends and how long its data is.
struct BlockShape {
    uint32_t head;  // bytes before the data
    uint32_t data;  // the size field rounded up to even
    uint32_t id;
};

// Version info that says the stored composite is not the picture stays: without it readers
// show that blank composite instead of building the picture from the layers.
static bool is_kept(const BlockShape& shape, const unsigned char* data) {
    if (shape.id == version_info) return shape.data > merged_flag_at && data[merged_flag_at] == 0;
    return is_kept_id(shape.id);
}

// Reads the block head into `to` (at most 266 bytes); *left is what remains of the section.
static bool read_block_head(unsigned char* to, int64_t left, BlockShape* shape) {
    if (left < min_block || !read_block(to, 7)) return false;
    uint32_t name_field = (uint32_t(to[6]) + 2) & ~1u;  // count byte and text, padded to even
    shape->head = 6 + name_field + 4;
    if (shape->head > left || !read_block(to + 7, shape->head - 7)) return false;
    uint32_t size = read_be32(to + shape->head - 4);
    if (size > max_length - 1) return false;
    shape->data = size + (size & 1);
    shape->id = read_be16(to + 4);
    return int64_t(shape->head) + shape->data <= left;
}

static bool read_layout(PsdLayout* layout) {
    unsigned char* b = work_buffer.data;
    if (!read_block(b + 4, header_size)) return false;
    layout->colour_data = read_be32(b + 26);
    return layout->colour_data <= max_length;
}

static int64_t rest_size(const PsdLayout& layout) {
    return source_size - (header_size + 4 + int64_t(layout.colour_data) + 4 + layout.section);
}

// Pass 1: the new section length, without reading any data.
static bool measure(PsdLayout* layout, uint32_t* kept_total) {
    unsigned char* b = work_buffer.data;
    unsigned char length[4];
    if (!read_layout(layout) || !skip_block(layout->colour_data) || !read_block(length, 4)) return false;
    layout->section = read_be32(length);
    if (layout->section > max_length || rest_size(*layout) < 0) return false;
    *kept_total = 0;
    for (int64_t position = 0; position < layout->section;) {
        BlockShape shape;
        if (!read_block_head(b, layout->section - position, &shape)) return false;
        uint32_t peek = shape.id == version_info && shape.data > merged_flag_at ? merged_flag_at + 1 : 0;
        if (!read_block(b + shape.head, peek) || !skip_block(shape.data - peek)) return false;
        position += shape.head + shape.data;
        if (is_kept(shape, b + shape.head)) *kept_total += shape.head + shape.data;
    }
    return true;
}

// Read to the copy's end and kept there: nothing but dropped blocks needs more room than the
// source has.
static bool copy_bytes(int64_t n) {
    return copy_has_room(n) && read_block(copy_end(), uint32_t(n)) && write_block(copy_end(), uint32_t(n));
}

// Pass 2: header, colour data, the new section length, the kept blocks, then the rest, read
// again from the source's start: the copy counts only when this pass meets the lengths and the
// kept blocks that pass 1 measured, and the file's end after the rest.
static bool write_copy(const PsdLayout& layout, uint32_t kept_total) {
    unsigned char length[4];
    if (!copy_bytes(header_size + 4) || read_be32(copy_end() - 4) != layout.colour_data) return false;
    if (!copy_bytes(layout.colour_data) || !read_block(length, 4) || read_be32(length) != layout.section) return false;
    unsigned char kept_length[4] = {uint8_t(kept_total >> 24), uint8_t(kept_total >> 16), uint8_t(kept_total >> 8),
                                    uint8_t(kept_total)};
    if (!write_block(kept_length, 4)) return false;
    uint32_t kept_written = 0;
    for (int64_t position = 0; position < layout.section;) {
        BlockShape shape;
        unsigned char* b = copy_end();
        if (!copy_has_room(layout.section - position) || !read_block_head(b, layout.section - position, &shape))
            return false;
        if (!read_block(b + shape.head, shape.data)) return false;
        position += shape.head + shape.data;
        if (!is_kept(shape, b + shape.head)) continue;
        if (!write_block(b, shape.head + shape.data)) return false;
        kept_written += shape.head + shape.data;
    }
    return kept_written == kept_total && copy_bytes(rest_size(layout)) && fgetc(source_stream) == EOF;
}

bool filter_psd() {
    PsdLayout layout;
    uint32_t kept_total = 0;
    if (!measure(&layout, &kept_total)) return false;
    ensure_work_buffer(source_size);
    if (!work_buffer.data || !rewind_source()) return false;
    start_copy();
    return write_copy(layout, kept_total);
}
