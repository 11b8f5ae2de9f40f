#include "tests/core/fixture.h"

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

fs::path scratch_folder() {
    static std::mt19937_64 random{std::random_device{}()};
    fs::path folder = fs::temp_directory_path() / ("brinq-test-" + std::to_string(random()));
    fs::create_directories(folder);
    return folder;
}

void write_file(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes be16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes filled(size_t n, unsigned char value) { return Bytes(n, value); }

Bytes noise(size_t n, uint32_t seed) {
    Bytes bytes(n);
    uint32_t x = seed | 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 24);
    }
    return bytes;
}

Bytes first_bytes(const Bytes& bytes, size_t n) { return Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(n)); }

void put_be32(Bytes* bytes, size_t at, uint32_t v) {
    Bytes field = be32(v);
    std::copy(field.begin(), field.end(), bytes->begin() + std::ptrdiff_t(at));
}

static uint32_t crc32(const Bytes& bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
}

Bytes png_signature() { return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}; }

Bytes png_chunk(const std::string& type, const Bytes& data) {
    Bytes typed = text_bytes(type) + data;
    return be32(uint32_t(data.size())) + typed + be32(crc32(typed));
}

Bytes jpeg_segment(unsigned char marker, const Bytes& body) {
    return Bytes{0xFF, marker} + be16(uint32_t(body.size() + 2)) + body;
}

Bytes fixed_jfif_head() {
    return Bytes{0xFF, 0xD8} + jpeg_segment(0xE0, text_bytes("JFIF") + Bytes{0, 1, 2, 1, 0, 0x48, 0, 0x48, 0, 0});
}

Bytes psd_block(uint16_t id, const std::string& name, const Bytes& data) {
    Bytes pascal = Bytes{uint8_t(name.size())} + text_bytes(name);
    if (pascal.size() % 2) pascal.push_back(0);
    Bytes padded = data;
    if (padded.size() % 2) padded.push_back(0);
    return text_bytes("8BIM") + be16(id) + pascal + be32(uint32_t(data.size())) + padded;
}

Bytes psd_file(const Bytes& colour_data, const Bytes& section, const Bytes& rest, uint16_t version) {
    uint16_t mode = colour_data.empty() ? 3 : 2;
    Bytes header = text_bytes("8BPS") + be16(version) + filled(6, 0) + be16(3) + be32(4) + be32(4) + be16(8) +
                   be16(mode);
    return header + be32(uint32_t(colour_data.size())) + colour_data + be32(uint32_t(section.size())) + section +
           rest;
}

static std::vector<uint64_t> piece_sums(const Bytes& bytes) {
    std::vector<uint64_t> pieces;
    for (size_t at = 0; at < bytes.size(); at += piece_bytes)
        pieces.push_back(checksum64(bytes.data() + at, std::min(piece_bytes, bytes.size() - at)));
    return pieces;
}

Reduced reduce(const Bytes& source) {
    fs::path folder = scratch_folder();
    fs::path source_file = folder / "source.img";
    write_file(source_file, source);
    source_stream = fopen(source_file.string().c_str(), "rb");
    EXPECT_TRUE(source_stream);
    source_size = int32_t(source.size());
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduced reduced{reduce_source(), {}};
    fclose(source_stream);
    source_stream = nullptr;
    if (reduced.result == complete_copy) {
        // What the replacement writes and records: the copy as assembled, every piece of the source.
        reduced.copy = Bytes(work_buffer.data, work_buffer.data + copy_size);
        EXPECT_EQ(source_pieces, piece_sums(source));
    }
    fs::remove_all(folder);
    return reduced;
}

Bytes reduced_copy(const Bytes& source) {
    Reduced r = reduce(source);
    EXPECT_EQ(r.result, complete_copy);
    return r.copy;
}

Record record_of(const Bytes& old, const Bytes& copy, std::vector<uint64_t>* pieces) {
    Record record{};
    record.old_size = old.size();
    record.copy_length = copy.size();
    size_t start = copy.size() / piece_bytes * piece_bytes, end = std::min(start + piece_bytes, old.size());
    if (copy.size() < old.size() && start < copy.size()) {
        record.cut_sums[0] = checksum64(old.data() + start, copy.size() - start);
        record.cut_sums[1] = checksum64(old.data() + copy.size(), end - copy.size());
    }
    record.source = u"C:\\photos\\a.jpg";
    *pieces = piece_sums(old);
    return record;
}

testing::AssertionResult left_alone(const Reduced& reduced) {
    if (reduced.result == complete_copy) return testing::AssertionFailure() << "a complete copy was made";
    return testing::AssertionSuccess();
}

Bytes joined(const std::vector<Bytes>& pieces) {
    Bytes all;
    for (const Bytes& piece : pieces) all = all + piece;
    return all;
}

std::vector<size_t> cuts_inside(const std::vector<Bytes>& pieces) {
    std::vector<size_t> cuts;
    size_t start = 0;
    for (const Bytes& piece : pieces) {
        for (size_t cut = start + 1; cut < start + piece.size(); cut++) cuts.push_back(cut);
        start += piece.size();
    }
    return cuts;
}

std::vector<std::string> regression_files() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(REGRESSION_DIR)) names.push_back(entry.path().filename().string());
    return names;
}

std::string regression_name(const testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}
