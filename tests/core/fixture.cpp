#include "tests/core/fixture.h"

#include <cstdio>
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

Reduced reduce(const Bytes& source) {
    fs::path folder = scratch_folder();
    fs::path source_file = folder / "source.img";
    fs::path temp_file = folder / "temp.tmp";
    write_file(source_file, source);
    snprintf(source_path, sizeof source_path, "%s", source_file.string().c_str());
    snprintf(temp_path, sizeof temp_path, "%s", temp_file.string().c_str());
    source_size = int32_t(source.size());
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduced reduced{reduce_source(), {}, fs::exists(temp_file)};
    if (reduced.result == complete_copy) reduced.copy = read_file(temp_file);
    fs::remove_all(folder);
    return reduced;
}
