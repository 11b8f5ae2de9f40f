#!/usr/bin/env python3
"""Encodes res/emblem.txt (60 x 50 hex alpha nibbles, top line first) into the stored Emblem record.

Record content: "RL", 0, width, height (16-bit LE), stream length L (32-bit LE), then the stream.
The content is stored in 48-byte rows: 47 content bytes and one filler 0.
Writes res/emblem_record.inc: the stored bytes as assembler lines for res/emblem_store.cpp.
"""
import sys
from pathlib import Path

RES = Path(__file__).resolve().parent.parent / "res"
MARKER = bytes((0x84, 0x50, 0x76, 0x00))
ROW_CONTENT = 47
MAX_STORED = 1000   # what the lookup reads of the record
MAX_RUN = 63        # 6-bit run or literal count
MAX_SHORT_RUN = 15  # 4-bit run ahead of one or two literal bytes


def packed_alpha(lines):
    """Pixel i is column i % width of line i // width counted from the bottom; low nibble first."""
    nibbles = [int(c, 16) for line in reversed(lines) for c in line]
    return bytes(nibbles[k] | nibbles[k + 1] << 4 for k in range(0, len(nibbles), 2))


def run_length(data, p):
    n = 1
    while p + n < len(data) and data[p + n] == data[p] and n < MAX_RUN:
        n += 1
    return n


def encode_stream(data):
    out = bytearray()
    p = 0
    while p < len(data):
        b = data[p]
        if b in (0x00, 0xFF):
            run = run_length(data, p)
            fill_bit = 0x20 if b == 0xFF else 0x00
            end = p + run
            if run <= MAX_SHORT_RUN and end < len(data):
                # a short run and the one or two bytes after it share one control byte
                two = end + 1 < len(data) and data[end + 1] not in (0x00, 0xFF)
                out.append(0xC0 | fill_bit | (0x10 if two else 0) | run)
                out += data[end:end + 1 + two]
                p = end + 1 + two
            else:
                out.append((0x40 if b == 0xFF else 0x00) | run)
                p = end
            continue
        start = p
        while p < len(data) and data[p] not in (0x00, 0xFF) and p - start < MAX_RUN:
            p += 1
        out.append(0x80 | (p - start))
        out += data[start:p]
    return bytes(out)


def decode_stream(stream):
    """The reader's rules, to prove the stream before it is stored."""
    out = bytearray()
    i = 0
    while i < len(stream):
        c = stream[i]
        top = c >> 6
        if top == 0:
            out += bytes(c & 0x3F); i += 1
        elif top == 1:
            out += b"\xff" * (c & 0x3F); i += 1
        elif top == 2:
            out += stream[i + 1:i + 1 + (c & 0x3F)]; i += 1 + (c & 0x3F)
        else:
            fill = b"\xff" if c & 0x20 else b"\x00"
            extra = 2 if c & 0x10 else 1
            out += fill * (c & 0x0F) + stream[i + 1:i + 1 + extra]; i += 1 + extra
    return bytes(out)


def stored_record(lines):
    width, height = len(lines[0]), len(lines)
    data = packed_alpha(lines)
    stream = encode_stream(data)
    assert decode_stream(stream) == data
    content = b"RL\0\0" + width.to_bytes(2, "little") + height.to_bytes(2, "little") \
        + len(stream).to_bytes(4, "little") + stream
    content += bytes(-len(content) % ROW_CONTENT)
    return b"".join(content[r:r + ROW_CONTENT] + b"\0" for r in range(0, len(content), ROW_CONTENT))


def main():
    lines = (RES / "emblem.txt").read_text().split()
    if len({len(l) for l in lines}) != 1 or len(lines[0]) * len(lines) % 2:
        sys.exit("emblem.txt: lines must be of one length and the pixel count even")
    record = stored_record(lines)
    if len(record) > MAX_STORED:
        sys.exit(f"stored record of {len(record)} bytes is longer than the {MAX_STORED} bytes the lookup reads")
    if MARKER in record:
        sys.exit("the record holds the marker's bytes; the lookup would stop there")
    text = ["// The stored Emblem record, made by scripts/encode_emblem.py from res/emblem.txt; do not edit.\n"]
    for r in range(0, len(record), 16):
        text.append('"\\t.byte ' + ", ".join("0x%02X" % b for b in record[r:r + 16]) + '\\n"\n')
    (RES / "emblem_record.inc").write_text("".join(text))
    print(f"{len(record)} stored bytes, stream of {int.from_bytes(record[8:12], 'little')} bytes")


if __name__ == "__main__":
    main()
