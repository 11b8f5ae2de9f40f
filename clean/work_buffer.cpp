// The WorkBuffer: one zero-filled heap block, grown on demand and reused from file to file.
#include "clean/clean.h"

#ifdef _WIN32
#include <windows.h>
static unsigned char* heap_zeroed(size_t n) {
    return static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n));
}
static void heap_free(void* p) { HeapFree(GetProcessHeap(), 0, p); }
#else
#include <cstdlib>
static unsigned char* heap_zeroed(size_t n) { return static_cast<unsigned char*>(calloc(n, 1)); }
static void heap_free(void* p) { free(p); }
#endif

WorkBuffer work_buffer;

void release_work_buffer() {
    if (!work_buffer.data) return;
    heap_free(work_buffer.data);
    work_buffer.data = nullptr;
    work_buffer.capacity = 0;
}

void allocate_work_buffer(int32_t size) {
    release_work_buffer();
    if (size < 0) return;
    work_buffer.data = heap_zeroed(size_t(size) + 4);
    work_buffer.capacity = work_buffer.data ? size : 0;
}

void ensure_work_buffer(int32_t size) {
    if (work_buffer.capacity < size) allocate_work_buffer(size);
}
