// Recognising a source by its head bytes and handing it to its format's filter.
#include "clean/clean.h"

#include <cstring>

int32_t source_size;
unsigned char head_bytes[10];
uint8_t jpeg_is_exif;
FILE* source_stream;
FILE* temp_stream;
int64_t copy_size;
int32_t target_count;
int32_t changed_count;

std::vector<uint64_t> source_pieces;
uint64_t cut_sums[2];

static bool head_is(const char* bytes, int from, int count) {
    return memcmp(head_bytes + from, bytes, count) == 0;
}

// Runs a filter on a recognised file; head_count head bytes go to the WorkBuffer first.
static Reduction run_filter(bool (*filter)(), int head_count) {
    if (!work_buffer.data) return not_recognised;
    memcpy(work_buffer.data, head_bytes, head_count);
    target_count++;
    return filter() ? complete_copy : no_copy;
}

static Reduction recognise_jpeg() {
    if (head_bytes[1] != 0xD8 || head_bytes[2] != 0xFF) return not_recognised;
    if (head_bytes[3] != 0xE0 && head_bytes[3] != 0xE1) return not_recognised;
    if (!read_block(head_bytes + 4, 6)) return not_recognised;
    if (head_is("JFIF", 6, 4)) jpeg_is_exif = 0;
    else if (head_is("Exif", 6, 4)) jpeg_is_exif = 1;
    else return not_recognised;
    ensure_work_buffer(source_size + max_growth);
    return run_filter(filter_jpeg, 10);
}

static Reduction recognise() {
    if (!read_block(head_bytes, 4)) return not_recognised;
    switch (head_bytes[0]) {
    case 0x89:
        if (!head_is("\x89PNG", 0, 4)) return not_recognised;
        ensure_work_buffer(source_size);
        return run_filter(filter_png, 4);
    case 0x38:
        if (!head_is("8BPS", 0, 4)) return not_recognised;
        return run_filter(filter_psd, 4);
    case 0xFF:
        return recognise_jpeg();
    default:
        return not_recognised;
    }
}

Reduction reduce_source() {
    if (!rewind_source()) return not_recognised;
    Reduction result = recognise();
    if (result == complete_copy && !sum_whole_source()) result = no_copy;
    return result;
}
