// Writes next to each named file, as FILE.expected, what cleaning it in place must leave:
// the complete reduced copy when its size differs from the source's, else the source itself.
#include "clean/clean.h"

#include <cstdio>
#include <string>
#include <vector>

static std::vector<unsigned char> read_all(const char* path) {
    std::vector<unsigned char> bytes;
    FILE* file = fopen(path, "rb");
    if (!file) return bytes;
    unsigned char piece[65536];
    for (size_t n; (n = fread(piece, 1, sizeof piece, file)) > 0;) bytes.insert(bytes.end(), piece, piece + n);
    fclose(file);
    return bytes;
}

static bool write_all(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), bytes.size(), 1, file) == 1;
    return fclose(file) == 0 && ok;
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        std::vector<unsigned char> source = read_all(argv[i]);
        source_stream = fopen(argv[i], "rb");
        if (!source_stream) return 1;
        source_size = int32_t(source.size());
        if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
        Reduction result = reduce_source();
        bool replaced = result == complete_copy && copy_size != int64_t(source.size());
        std::vector<unsigned char> expected =
            replaced ? std::vector<unsigned char>(work_buffer.data, work_buffer.data + copy_size) : source;
        fclose(source_stream);
        if (!write_all(std::string(argv[i]) + ".expected", expected)) return 1;
    }
    release_work_buffer();
    return 0;
}
