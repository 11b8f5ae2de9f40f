// Recognising a source by its head bytes and handing it to its format's filter.
#include "clean/clean.h"

#include <cstring>

int32_t source_size;
unsigned char head_bytes[4];
FILE* source_stream;
int64_t copy_size;
int32_t target_count;
int32_t changed_count;

std::vector<uint64_t> source_pieces;
uint64_t cut_sums[2];

static bool head_is(const char* bytes, int from, int count) {
    return memcmp(head_bytes + from, bytes, count) == 0;
}

// Runs a filter on a recognised file; the head bytes go to the WorkBuffer first.
static Reduction run_filter(bool (*filter)()) {
    if (!work_buffer.data) return not_recognised;
    memcpy(work_buffer.data, head_bytes, sizeof head_bytes);
    target_count++;
    return filter() ? complete_copy : no_copy;
}

static Reduction recognise_jpeg() {
    if (head_bytes[1] != 0xD8 || head_bytes[2] != 0xFF || !starts_jpeg(head_bytes[3])) return not_recognised;
    ensure_work_buffer(source_size + max_growth);
    return run_filter(filter_jpeg);
}

static Reduction recognise() {
    if (!read_block(head_bytes, 4)) return not_recognised;
    switch (head_bytes[0]) {
    case 0x89:
        if (!head_is("\x89PNG", 0, 4)) return not_recognised;
        ensure_work_buffer(source_size);
        return run_filter(filter_png);
    case 0x38:
        if (!head_is("8BPS", 0, 4)) return not_recognised;
        return run_filter(filter_psd);
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
