// The Emblem on the Canvas: read anew from the executable at every showing, laid on in white.
#include "app/app.h"
#include "emblem/emblem.h"
#include "ui/ui.h"

uint32_t find_emblem_record(unsigned char* scan) {
    FILE* exe = _wfopen(own_path().c_str(), L"rb");
    if (!exe) return 0;
    uint32_t got = read_emblem_record(exe, scan);
    fclose(exe);
    return got;
}

void blend_emblem(const Emblem& emblem, int32_t left, int32_t top) {
    uint32_t count = emblem.width * emblem.height;
    for (uint32_t i = 0; i < count; i++) {
        int32_t x = left + int32_t(i % emblem_row_length);
        int32_t y = top + int32_t(emblem.height) - int32_t(i / emblem_row_length);
        COLORREF under = GetPixel(canvas_dc, x, y);
        SetPixel(canvas_dc, x, y, blend_white(under, emblem.alpha[i]));
    }
}

void draw_emblem(int32_t left, int32_t top) {
    HANDLE heap = GetProcessHeap();
    auto* scan = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, emblem_scan_size));
    if (!scan) return;
    uint32_t got = find_emblem_record(scan);
    Emblem emblem;
    if (got != 0 && decode_emblem(scan, got, &emblem)) {
        blend_emblem(emblem, left, top);
        present();
    }
    HeapFree(heap, 0, scan);
}
