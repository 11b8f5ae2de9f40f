// Test helpers shared by the filter tests: scratch files, byte builders and the run of one source.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "clean/clean.h"
#include "replace/record.h"

using Bytes = std::vector<unsigned char>;

// A fresh, empty folder for one test.
std::filesystem::path scratch_folder();
void write_file(const std::filesystem::path& path, const Bytes& bytes);
Bytes read_file(const std::filesystem::path& path);

Bytes operator+(Bytes a, const Bytes& b);
Bytes text_bytes(const std::string& text);
Bytes be16(uint32_t v);
Bytes be32(uint32_t v);
Bytes filled(size_t n, unsigned char value);
// n bytes from a xorshift generator: no period that a misplaced piece could hide in.
Bytes noise(size_t n, uint32_t seed);
Bytes first_bytes(const Bytes& bytes, size_t n);
void put_be32(Bytes* bytes, size_t at, uint32_t v);

// 89 "PNG" 0D 0A 1A 0A.
Bytes png_signature();
// Length, type, data, and the CRC-32 over type and data.
Bytes png_chunk(const std::string& type, const Bytes& data);
// FF, the marker, a length that counts itself and the body, the body.
Bytes jpeg_segment(unsigned char marker, const Bytes& body);
// SOI and the JFIF 1.02 APP0 segment that takes a dropped leading segment's place: length 16,
// 72 dots per inch, no thumbnail.
Bytes fixed_jfif_head();
// "8BIM", the ID, the name as a Pascal string padded to even, the size, the data padded to even
// with a zero byte.
Bytes psd_block(uint16_t id, const std::string& name, const Bytes& data);
// "8BPS", the version, 6 reserved zeros, 3 channels, 4 x 4 pixels, 8 bits, the colour mode
// (indexed when colour data is given, else RGB); then the colour mode data and the resource
// section, each behind its 4-byte length; then the rest (layers and image data).
Bytes psd_file(const Bytes& colour_data, const Bytes& section, const Bytes& rest, uint16_t version = 1);

// What reduce_source made of a source: the result and, for a complete copy, its bytes.
struct Reduced {
    Reduction result;
    Bytes copy;
};

// Writes `source` to a scratch file and runs the recognition and filter on it the way
// clean_file does, through streams opened by name, with a WorkBuffer of at least 2,000,000 bytes.
Reduced reduce(const Bytes& source);

// The copy of a source that must come out complete.
Bytes reduced_copy(const Bytes& source);

// The record of a replacement of `old` by `copy` (unsealed, its source C:\photos\a.jpg), and
// the sums of the old pieces.
Record record_of(const Bytes& old, const Bytes& copy, std::vector<uint64_t>* pieces);

// The caller would leave the source as it was: no complete copy.
testing::AssertionResult left_alone(const Reduced& reduced);

// Every length that cuts a file made of `pieces` inside a piece (never at a piece's end).
std::vector<size_t> cuts_inside(const std::vector<Bytes>& pieces);
Bytes joined(const std::vector<Bytes>& pieces);

// The files of tests/regressions, one input per defect, and a test name made of each file name.
std::vector<std::string> regression_files();
std::string regression_name(const testing::TestParamInfo<std::string>& info);
