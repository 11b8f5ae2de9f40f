// The Emblem record: header, 48-byte rows with a filler each, a run-length stream of packed
// 4-bit alpha. The record is our own, but the decoder still checks every step against both ends.
#include "emblem/emblem.h"

#include <cstring>
#include <utility>

constexpr uint32_t header_size = 12;   // tag, "L", 0, width, height, stream length
constexpr uint32_t row_content = 47;   // content bytes of each stored row; the 48th is a filler
constexpr uint32_t longest_step = 63;  // most bytes one control byte puts out
// No stream that fits in the bytes read describes more pixels than this.
constexpr uint64_t max_pixels = 2ull * longest_step * emblem_record_read;

// Stored position of content byte p: the fillers of the rows before it come in between.
static uint64_t stored_offset(uint64_t p) { return p + p / row_content; }

struct Step {
    uint32_t run;       // bytes of fill first
    unsigned char fill;
    uint32_t literals;  // then this many bytes copied from the stream
};

static Step read_step(unsigned char c) {
    switch (c >> 6) {
    case 0: return {c & 0x3Fu, 0x00, 0};  // run of zeros
    case 1: return {c & 0x3Fu, 0xFF, 0};  // run of 0xFF
    case 2: return {0, 0, c & 0x3Fu};     // literal bytes
    default:                              // short run, then one or two literal bytes
        return {c & 0x0Fu, static_cast<unsigned char>(c & 0x20 ? 0xFF : 0x00), c & 0x10 ? 2u : 1u};
    }
}

// False when a step's literals run past the stream or its output past the picture.
static bool decode_stream(const unsigned char* stream, uint32_t length, unsigned char* out, uint32_t size) {
    uint32_t i = 0;
    uint32_t o = 0;
    while (i < length) {
        Step s = read_step(stream[i++]);
        if (s.literals > length - i) return false;
        if (s.run + s.literals > size - o) return false;
        memset(out + o, s.fill, s.run);
        o += s.run;
        memcpy(out + o, stream + i, s.literals);
        o += s.literals;
        i += s.literals;
    }
    return true;
}

// In place, from the end, so that each packed byte is read before its two pixels overwrite it.
static void expand_nibbles(unsigned char* pixels, uint32_t count) {
    for (uint32_t k = count / 2; k-- > 0;) {
        unsigned char packed = pixels[k];
        pixels[2 * k] = (packed & 0x0F) * 17;
        pixels[2 * k + 1] = (packed >> 4) * 17;
    }
}

bool decode_emblem(const unsigned char* stored, uint32_t stored_size, Emblem* emblem) {
    if (stored_size < header_size || stored[0] != 'R') return false;
    uint32_t width = read_le16(stored + 4);
    uint32_t height = read_le16(stored + 6);
    uint32_t length = read_le32(stored + 8);
    uint64_t pixels = uint64_t(width) * height;
    if (pixels == 0 || pixels % 2 != 0 || pixels > max_pixels) return false;
    uint64_t content_size = header_size + uint64_t(length);
    if (stored_offset(content_size - 1) >= stored_size) return false;  // the stream goes on past what was read

    std::vector<unsigned char> content(content_size);
    for (uint64_t p = 0; p < content_size; p++) content[p] = stored[stored_offset(p)];
    std::vector<unsigned char> alpha(pixels);  // zeros: a short stream leaves the rest transparent
    if (!decode_stream(content.data() + header_size, length, alpha.data(), uint32_t(pixels / 2))) return false;
    expand_nibbles(alpha.data(), uint32_t(pixels));
    *emblem = {width, height, std::move(alpha)};
    return true;
}

uint32_t blend_white(uint32_t colour, uint32_t alpha) {
    uint32_t blended = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t v = (colour >> shift) & 0xFF;
        blended |= (alpha + v - v * alpha / 255) << shift;
    }
    return blended;
}
