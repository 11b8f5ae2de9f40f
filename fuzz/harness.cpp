#include "fuzz/harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// One folder per fuzzing process, on tmpfs so that the file round trip costs no disk.
static std::string fuzz_folder() {
    std::string folder = "/dev/shm/brinq-fuzz-" + std::to_string(getpid());
    mkdir(folder.c_str(), 0700);
    atexit([] {
        remove(source_path);
        rmdir(("/dev/shm/brinq-fuzz-" + std::to_string(getpid())).c_str());
    });
    return folder;
}

void require(bool promise, const char* what) {
    if (promise) return;
    fprintf(stderr, "broken promise: %s\n", what);
    abort();
}

static void write_bytes(const char* path, const Bytes& bytes) {
    FILE* file = fopen(path, "wb");
    require(file != nullptr, "fuzz folder writable");
    if (!bytes.empty()) fwrite(bytes.data(), bytes.size(), 1, file);
    fclose(file);
}

static Bytes read_bytes(const char* path) {
    Bytes bytes;
    FILE* file = fopen(path, "rb");
    require(file != nullptr, "a complete copy exists");
    unsigned char piece[65536];
    for (size_t n; (n = fread(piece, 1, sizeof piece, file)) > 0;) bytes.insert(bytes.end(), piece, piece + n);
    fclose(file);
    return bytes;
}

Reduction reduce_bytes(const Bytes& source, Bytes* copy) {
    static const std::string folder = fuzz_folder();
    snprintf(source_path, sizeof source_path, "%s/source.img", folder.c_str());
    snprintf(temp_path, sizeof temp_path, "%s/xtmp_7x91x4vnq.xxxx", folder.c_str());
    write_bytes(source_path, source);
    source_size = int32_t(source.size());
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    require(source_stream == nullptr && (temp_stream != nullptr) == (result == complete_copy),
            "only a complete copy's stream left open");
    close_temp_stream();
    struct stat status;
    bool temp_left = stat(temp_path, &status) == 0;
    require(temp_left == (result == complete_copy), "a temporary file only for a complete copy");
    if (result == complete_copy) {
        *copy = read_bytes(temp_path);
        require(Bytes(work_buffer.data, work_buffer.data + copy_size) == *copy, "the copy assembled as written");
        require(copy_checksum() == checksum64(copy->data(), copy->size()), "the copy summed as written");
        require(source_pieces.size() == pieces_of(source.size()), "every piece of the source summed");
        for (size_t at = 0; at < source.size(); at += piece_bytes)
            require(source_pieces[at / piece_bytes] ==
                        checksum64(source.data() + at, std::min(piece_bytes, source.size() - at)),
                    "each piece's sum");
    }
    remove(temp_path);
    return result;
}

void check_size_and_idempotence(const Bytes& source, const Bytes& copy, size_t growth) {
    require(copy.size() <= source.size() + growth, "copy no longer than the source");
    Bytes again;
    require(reduce_bytes(copy, &again) == complete_copy, "a copy cleans completely");
    require(again == copy, "cleaning is idempotent");
}

uint32_t be32_at(const Bytes& bytes, size_t at) { return read_be32(bytes.data() + at); }
