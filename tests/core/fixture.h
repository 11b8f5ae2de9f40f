// Test helpers shared by the filter tests: scratch files and byte builders.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "clean/clean.h"

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

// What reduce_source made of a source: the result and, for a complete copy, its bytes.
struct Reduced {
    Reduction result;
    Bytes copy;
    bool temp_left;  // a file stands at temp_path afterwards
};

// Writes `source` to a scratch file and runs the recognition and filter on it the way
// clean_file does, with a WorkBuffer of at least 2,000,000 bytes.
Reduced reduce(const Bytes& source);
