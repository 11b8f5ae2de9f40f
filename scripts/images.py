#!/usr/bin/env python3
"""Small well-formed PNG, JPEG and PSD files, built byte by byte, for the fuzz seeds and the
hostile-file campaign. Also reports where their chunks, segments and resources begin, so that
variants can be cut and bent exactly there.

    images.py DIR [png|jpeg|psd ...]   writes the files of the named formats (all by default)
"""
import os
import struct
import sys
import zlib


def be16(v):
    return struct.pack(">H", v & 0xFFFF)


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


# PNG: signature, then chunks of length, type, data and a CRC over type and data.
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_chunk(kind, data):
    return be32(len(data)) + kind + data + be32(zlib.crc32(kind + data))


def png_pixels(width=4, height=3):
    """IHDR and IDAT of a small 8-bit RGB picture."""
    ihdr = be32(width) + be32(height) + bytes([8, 2, 0, 0, 0])
    rows = b"".join(b"\x00" + bytes((x * 40 + y * 70) % 256 for x in range(width * 3)) for y in range(height))
    return [(b"IHDR", ihdr), (b"IDAT", zlib.compress(rows))]


def png_files():
    ihdr, idat = png_pixels()
    iend = (b"IEND", b"")
    icc = (b"iCCP", b"profile\x00\x00" + zlib.compress(b"\x00" * 64))
    phys = (b"pHYs", be32(2835) + be32(2835) + b"\x01")
    chrm = (b"cHRM", b"".join(be32(v) for v in (31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000)))
    text = (b"tEXt", b"Comment\x00small test picture")
    gama = (b"gAMA", be32(45455))
    shapes = {
        "plain": [ihdr, idat, iend],
        "all_dropped": [ihdr, phys, chrm, icc, gama, text, idat, iend],
        "dropped_after_idat": [ihdr, idat, phys, text, iend],
        "split_idat": [ihdr, icc, (b"IDAT", idat[1][:10]), (b"IDAT", idat[1][10:]), iend],
        "lookalike_types": [ihdr, (b"PHYS", phys[1]), (b"iccp", b"x"), idat, iend],
    }
    files = {}
    for name, chunks in shapes.items():
        files[f"png_{name}.png"] = PNG_SIGNATURE + b"".join(png_chunk(k, d) for k, d in chunks)
    files["png_trailing.png"] = files["png_all_dropped.png"] + b"trailing bytes after IEND"
    files["png_no_iend.png"] = PNG_SIGNATURE + b"".join(png_chunk(k, d) for k, d in [ihdr, phys, idat])
    return files


def png_boundaries(data):
    """Offsets where each chunk starts, and the offsets of their length fields."""
    starts, at = [], 8
    while at + 12 <= len(data):
        starts.append(at)
        at += 12 + struct.unpack(">I", data[at:at + 4])[0]
    return starts, starts


# JPEG: markers FF xx, most with a two-byte length that counts itself; the scan runs to EOI.
def jpeg_segment(marker, body):
    return bytes([0xFF, marker]) + be16(len(body) + 2) + body


JFIF_BODY = b"JFIF\x00\x01\x01\x01\x00\x48\x00\x48\x00\x00"
EXIF_BODY = b"Exif\x00\x00MM\x00\x2a\x00\x00\x00\x08\x00\x00" + b"\x00" * 24
ICC_BODY = b"ICC_PROFILE\x00\x01\x01" + b"\x11" * 40
ADOBE_BODY = b"Adobe\x00\x64\x00\x00\x00\x00\x01"
DQT = jpeg_segment(0xDB, b"\x00" + bytes(range(1, 65)))
SOF0 = jpeg_segment(0xC0, b"\x08\x00\x08\x00\x08\x01\x01\x11\x00")
SOF0_RGB = jpeg_segment(0xC0, b"\x08\x00\x08\x00\x08\x03R\x11\x00G\x11\x00B\x11\x00")
DHT = jpeg_segment(0xC4, b"\x00" + b"\x01" + b"\x00" * 15 + b"\x00")
DRI = jpeg_segment(0xDD, b"\x00\x04")
SOS = jpeg_segment(0xDA, b"\x01\x01\x00\x00\x3f\x00")
SCAN = b"\x12\x34\xff\x00\x56\xff\xd0\x78\x9a" + b"\xbc" * 16
EOI = b"\xff\xd9"


def jpeg_files():
    soi = b"\xff\xd8"
    app0 = jpeg_segment(0xE0, JFIF_BODY)
    exif = jpeg_segment(0xE1, EXIF_BODY)
    icc = jpeg_segment(0xE2, ICC_BODY)
    com = jpeg_segment(0xFE, b"a comment")
    tables = DQT + SOF0 + DHT
    return {
        "jpeg_jfif_plain.jpg": soi + app0 + tables + SOS + SCAN + EOI,
        "jpeg_jfif_full.jpg": soi + app0 + exif + icc + com + DQT + SOF0 + DRI + DHT + SOS + SCAN + EOI,
        "jpeg_exif_first.jpg": soi + exif + app0 + icc + tables + SOS + SCAN + EOI + b"trailing",
        "jpeg_exif_e0.jpg": soi + jpeg_segment(0xE0, EXIF_BODY) + com + tables + SOS + SCAN + EOI,
        "jpeg_jfif_e1.jpg": soi + jpeg_segment(0xE1, JFIF_BODY) + tables + SOS + SCAN + EOI,
        "jpeg_adobe.jpg": soi + app0 + jpeg_segment(0xEE, ADOBE_BODY) + com + tables + SOS + SCAN + EOI,
        "jpeg_fill_bytes.jpg": soi + app0 + b"\xff\xff" + com + b"\xff" + DQT + SOF0 + DHT + SOS + SCAN + EOI,
        "jpeg_reserved.jpg": soi + app0 + jpeg_segment(0x02, b"res") + jpeg_segment(0xF1, b"jpg1") + tables + SOS + SCAN + EOI,
        "jpeg_iptc_first.jpg": soi + jpeg_segment(0xED, b"Photoshop 3.0\x00") + exif + tables + SOS + SCAN + EOI,
        "jpeg_tables_first.jpg": soi + DQT + com + SOF0 + DHT + SOS + SCAN + EOI,
        "jpeg_rgb_exif_first.jpg": soi + exif + DQT + SOF0_RGB + DHT + SOS + SCAN + EOI,
    }


def jpeg_boundaries(data):
    """Offsets where each segment's marker starts, and where their length fields are."""
    starts, lengths, at = [0], [], 2
    while at + 4 <= len(data):
        while at + 1 < len(data) and data[at] == 0xFF and data[at + 1] == 0xFF:
            at += 1
        starts.append(at)
        if data[at] == 0xFF and 0xD0 <= data[at + 1] <= 0xDA:
            break
        lengths.append(at + 2)
        at += 2 + struct.unpack(">H", data[at + 2:at + 4])[0]
    return starts, lengths


# PSD: a 26-byte header, colour mode data, the image resource section, layers, image data.
def psd_resource(rid, data, name=b"", signature=b"8BIM"):
    pascal = bytes([len(name)]) + name
    if len(pascal) % 2:
        pascal += b"\x00"
    padded = data + (b"\x00" if len(data) % 2 else b"")
    return signature + be16(rid) + pascal + be32(len(data)) + padded


def psd_file(resources, colour_data=b"", layers=b"", image=b"", version=1, channels=3, width=4, height=3):
    header = b"8BPS" + be16(version) + b"\x00" * 6 + be16(channels) + be32(height) + be32(width) + be16(8) + be16(3)
    section = b"".join(resources)
    layer_section = be32(len(layers)) + layers
    pixels = image or (be16(0) + bytes((i * 13) % 256 for i in range(channels * width * height)))
    return header + be32(len(colour_data)) + colour_data + be32(len(section)) + section + layer_section + pixels


def psd_files():
    resolution = psd_resource(1005, be32(72 << 16) + be16(1) + be16(1) + be32(72 << 16) + be16(1) + be16(1))
    thumbnail = psd_resource(1036, b"\x00\x00\x00\x01" + b"\xaa" * 40)
    xmp = psd_resource(1060, b"<x:xmpmeta/>")
    odd_kept = psd_resource(1044, b"\x01\x02\x03")
    iptc = psd_resource(1028, b"\x1c\x02\x00\x00\x02\x00\x04")
    named = psd_resource(2000, b"path data", name=b"Work Path")
    named_kept = psd_resource(1032, be32(1) + be32(0) + be32(0), name=b"Grid")
    one_char = psd_resource(1053, be32(7), name=b"a")
    palette = bytes(range(256)) * 3
    return {
        "psd_kept_only.psd": psd_file([resolution, odd_kept]),
        "psd_mixed.psd": psd_file([resolution, thumbnail, odd_kept, xmp, iptc]),
        "psd_named.psd": psd_file([named, named_kept, one_char, thumbnail]),
        "psd_empty_section.psd": psd_file([]),
        "psd_nothing_kept.psd": psd_file([thumbnail, xmp], layers=b"\x00" * 8),
        "psd_indexed.psd": psd_file([resolution, xmp], colour_data=palette),
        "psd_version2.psd": psd_file([thumbnail, resolution], version=2),
    }


def psd_boundaries(data):
    """Offsets where each resource starts, and the offsets of every length field."""
    colour = struct.unpack(">I", data[26:30])[0]
    section_at = 30 + colour
    section = struct.unpack(">I", data[section_at:section_at + 4])[0]
    starts, lengths, at, end = [], [26, section_at], section_at + 4, section_at + 4 + section
    while at + 12 <= end:
        starts.append(at)
        name_field = (data[at + 6] + 2) & ~1
        size_at = at + 6 + name_field
        lengths.append(size_at)
        size = struct.unpack(">I", data[size_at:size_at + 4])[0]
        at = size_at + 4 + size + (size & 1)
    starts.append(end)
    if end + 4 <= len(data):
        lengths.append(end)
    return starts, lengths


def all_files():
    files = {}
    files.update(png_files())
    files.update(jpeg_files())
    files.update(psd_files())
    return files


def boundaries(name, data):
    if name.endswith(".png"):
        return png_boundaries(data)
    if name.endswith(".jpg"):
        return jpeg_boundaries(data)
    return psd_boundaries(data)


def main():
    folder = sys.argv[1]
    formats = sys.argv[2:] or ["png", "jpeg", "psd"]
    os.makedirs(folder, exist_ok=True)
    for name, data in all_files().items():
        if name.split("_")[0] in formats:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
