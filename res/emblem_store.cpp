// The Emblem record and, right behind it, its marker: this object is linked first, so both open
// the read-only data section and the marker lands inside the window that the lookup searches.
// The linker fills in the offset (.secrel32: the record's offset from the start of its section).
// scripts/check_emblem_store.py fails the build if the placement ever moves out of the window.
asm(".section .rdata,\"dr\"\n"
    ".Lemblem_record:\n"
#include "res/emblem_record.inc"
    "\t.byte 0x84, 0x50, 0x76, 0x00\n"
    "\t.secrel32 .Lemblem_record\n"
    "\t.text\n");
