// Cleaning one file in place: a reduced copy replaces the source only when it is complete
// and its size differs; the source keeps its creation and last-write times.
#include "clean/clean.h"

#include <windows.h>

// The steps of one file while this process holds the temporary file.
static void clean_held_file() {
    if (!take_size_and_times() || first_size > uint64_t(max_source_size)) return;
    source_size = int32_t(first_size);
    if (work_buffer.capacity < min_work_buffer) allocate_work_buffer(min_work_buffer);
    Reduction result = reduce_source();
    if (result == not_recognised) return;
    bool differs = result == complete_copy && copy_size != int64_t(first_size);
    Replacement outcome = differs ? replace_source() : refused;
    if (outcome == replaced) changed_count++;
    if (outcome != refused) return;  // a replaced source got its times back with the write
    DeleteFileA(temp_path);
    put_times_back();
}

void clean_file() {
    if (copy_kept_at_temp || !take_lock()) return;
    if (!copy_kept_at_temp) clean_held_file();
    release_lock();
}

