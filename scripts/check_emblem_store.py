#!/usr/bin/env python3
"""Post-link check: looks the Emblem up in a linked .exe the way the program does and fails
(removing the .exe, so that no misplaced build survives) unless the marker lies at window
position 1..1499 and its offset leads to the record of res/emblem_record.inc.

usage: check_emblem_store.py EXE
"""
import re
import struct
import sys
from pathlib import Path

RES = Path(__file__).resolve().parent.parent / "res"
MARKER = bytes((0x84, 0x50, 0x76, 0x00))
WINDOW_START = 40   # bytes into the section's raw data
WINDOW_SIZE = 1600
LAST_POSITION = 1499
SECTIONS_SEARCHED = 6


def expected_record():
    text = (RES / "emblem_record.inc").read_text()
    return bytes(int(h, 16) for h in re.findall(r"0x([0-9A-F]{2})", text))


def placement_fault(exe):
    pe = struct.unpack_from("<I", exe, 60)[0]
    machine = struct.unpack_from("<H", exe, pe + 4)[0]
    header = pe + 8 + (256 if machine == 0x8664 else 240)
    for k in range(SECTIONS_SEARCHED):
        at = header + 40 * k
        if exe[at:at + 4] == b".rda":
            raw = struct.unpack_from("<I", exe, at + 20)[0]
            break
    else:
        return "no .rdata section among the first six"
    window = exe[raw + WINDOW_START:raw + WINDOW_START + WINDOW_SIZE]
    position = window.find(MARKER, 1, LAST_POSITION + len(MARKER))
    if position < 0:
        return f"marker not at window positions 1..{LAST_POSITION} (it is at section offset " \
               f"{exe.find(MARKER, raw) - raw})"
    offset = struct.unpack_from("<I", window, position + 4)[0]
    record = expected_record()
    if exe[raw + offset:raw + offset + len(record)] != record:
        return f"the marker at window position {position} points to offset {offset}, not to the record"
    print(f"emblem marker at window position {position}, record at section offset {offset}")
    return None


def main():
    path = Path(sys.argv[1])
    fault = placement_fault(path.read_bytes())
    if fault:
        path.unlink()
        sys.exit(f"{path.name}: {fault}")


if __name__ == "__main__":
    main()
