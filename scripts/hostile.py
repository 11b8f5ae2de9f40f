#!/usr/bin/env python3
"""Hostile-file campaign for brinq.exe under Wine.

Derives thousands of variants from the small well-formed files of images.py (cut at and
around every chunk, segment and resource boundary; length fields bent to 0, 1, 2^31 and past
the end; PSD sections inconsistent; resource names of every length; every JPEG marker; random
byte changes), lets brinq.exe clean them in batches, and checks for each file that it is
exactly what cleaning must leave (the source as it was, or the complete reduced copy, as
reduce_file computes it natively); that no temporary file is left beside the program; and that
brinq.exe exited normally.

    hostile.py --exe brinq.exe --reduce reduce_file --work FOLDER [--random N] [--seed S]
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import images  # noqa: E402

TEMP_NAME = "xtmp_7x91x4vnq.xxxx"
BATCH = 250


def put32(data, at, value):
    return data[:at] + struct.pack(">I", value & 0xFFFFFFFF) + data[at + 4:]


def put16(data, at, value):
    return data[:at] + struct.pack(">H", value & 0xFFFF) + data[at + 2:]


def cuts(name, data):
    starts, lengths = images.boundaries(name, data)
    points = set(starts) | set(lengths) | {len(data)}
    near = set()
    for point in points:
        for d in (-12, -8, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 8, 12):
            if 0 < point + d < len(data):
                near.add(point + d)
    return {f"cut{at}": data[:at] for at in sorted(near)}


def bent_lengths(name, data):
    _, lengths = images.boundaries(name, data)
    out = {}
    for at in lengths:
        if name.endswith(".jpg"):
            if at + 2 > len(data):
                continue
            old = struct.unpack(">H", data[at:at + 2])[0]
            left = len(data) - at
            values = {0, 1, 2, 3, 4, 5, 6, 7, 0x7FFF, 0x8000, 0xFFFF, old - 1, old + 1, old - 2, old + 2, left, left + 1, left + 100}
            for v in values:
                out[f"len{at}_{v & 0xFFFF}"] = put16(data, at, v)
        else:
            if at + 4 > len(data):
                continue
            old = struct.unpack(">I", data[at:at + 4])[0]
            left = len(data) - at
            values = {0, 1, 2, 3, 11, 12, 13, 0x10000, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFF, 0xFFFFFFFE,
                      old - 1, old + 1, old - 2, old + 2, left, left - 4, left + 1, left + 100, 2 * len(data)}
            for v in values:
                out[f"len{at}_{v & 0xFFFFFFFF}"] = put32(data, at, v)
    return out


def psd_names():
    """Resources named with every length, well formed and with the count byte alone bent."""
    out = {}
    thumbnail = images.psd_resource(1036, b"\x00" * 10)
    for n in range(256):
        named = images.psd_resource(1006 if n % 2 else 2000, b"xyz", name=bytes(65 + i % 26 for i in range(n)))
        out[f"psd_name{n}.psd"] = images.psd_file([thumbnail, named, thumbnail])
        plain = images.psd_file([images.psd_resource(1005, b"\x00" * 16), thumbnail])
        out[f"psd_namebyte{n}.psd"] = plain[:34 + 6] + bytes([n]) + plain[34 + 7:]
    return out


def psd_sections():
    """Colour data and section lengths that disagree with each other and with the file."""
    out = {}
    thumbnail = images.psd_resource(1036, b"\x01" * 20)
    kept = images.psd_resource(1005, b"\x02" * 16)
    base = images.psd_file([kept, thumbnail, kept])
    for colour in (0, 1, 2, 3, 4, 768, len(base), 0x7FFFFFFF, 0x80000000):
        for section in (0, 1, 11, 12, 13, 28, 55, 56, 57, len(base), 0x7FFFFFFF, 0xFFFFFFFF):
            data = put32(put32(base, 26, colour), 30, section)
            out[f"psd_colour{colour}_section{section}.psd"] = data
    for pad in range(0, 40):  # files that end anywhere in a layer section of its own length
        out[f"psd_short_rest{pad}.psd"] = images.psd_file([kept, thumbnail])[:100 + pad]
    return out


def jpeg_markers():
    """A segment with every marker byte, after the JFIF segment and in place of a table."""
    out = {}
    soi_app0 = b"\xff\xd8" + images.jpeg_segment(0xE0, images.JFIF_BODY)
    rest = images.DQT + images.SOF0 + images.DHT + images.SOS + images.SCAN + images.EOI
    for m in range(256):
        out[f"jpeg_marker{m:02x}.jpg"] = soi_app0 + images.jpeg_segment(m, b"abcd") + rest
        out[f"jpeg_bare{m:02x}.jpg"] = soi_app0 + bytes([0xFF, m]) + rest
    for fill in range(1, 12):
        out[f"jpeg_fill{fill}.jpg"] = soi_app0 + b"\xff" * fill + rest
        out[f"jpeg_fill_end{fill}.jpg"] = soi_app0 + b"\xff" * fill
    return out


def png_orders():
    """Dropped types everywhere, IEND early, and chunks that end exactly at the end of the file."""
    out = {}
    ihdr, idat = images.png_pixels()
    chunks = [ihdr, (b"iCCP", b"p\x00\x00" + b"z" * 8), (b"pHYs", b"\x00" * 9), (b"cHRM", b"\x00" * 32), idat, (b"IEND", b"")]
    for i in range(len(chunks)):
        for j in range(len(chunks)):
            order = chunks[:]
            order.insert(j, order.pop(i))
            out[f"png_order{i}{j}.png"] = images.PNG_SIGNATURE + b"".join(images.png_chunk(k, d) for k, d in order)
    for tail in range(0, 30):
        out[f"png_tail{tail}.png"] = out["png_order00.png"] + b"\x00" * tail
    return out


def random_changes(name, data, rng, count):
    out = {}
    for i in range(count):
        changed = bytearray(data)
        for _ in range(rng.randint(1, 4)):
            changed[rng.randrange(len(changed))] = rng.choice((0, 1, 0x7F, 0x80, 0xFF, rng.randrange(256)))
        out[f"rand{i}"] = bytes(changed)
    return out


def variants(random_count=70, seed=5):
    rng = random.Random(seed)
    out = {}
    for name, data in images.all_files().items():
        stem, ext = os.path.splitext(name)
        out[name] = data
        for make in (cuts, bent_lengths):
            for key, value in make(name, data).items():
                out[f"{stem}_{key}{ext}"] = value
        for key, value in random_changes(name, data, rng, random_count).items():
            out[f"{stem}_{key}{ext}"] = value
    for extra in (psd_names(), psd_sections(), jpeg_markers(), png_orders()):
        out.update(extra)
    # The sweep looks for ".jpeg" as well.
    for name in [n for n in out if n.startswith("jpeg_rand")]:
        out[name[:-4] + "_long.jpeg"] = out[name]
    return out


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def expected_results(reduce_tool, work, files):
    folder = os.path.join(work, "expected")
    os.makedirs(folder)
    names = sorted(files)
    for name in names:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(files[name])
    for i in range(0, len(names), 500):
        subprocess.run([reduce_tool] + [os.path.join(folder, n) for n in names[i:i + 500]], check=True)
    expected = {}
    for name in names:
        with open(os.path.join(folder, name + ".expected"), "rb") as f:
            expected[name] = f.read()
    shutil.rmtree(folder)
    return expected


def run_batch(exe, folder, names, by_folder):
    args = [windows_path(folder)] if by_folder else [windows_path(os.path.join(folder, n)) for n in names]
    try:
        return subprocess.run(["wine", exe] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=600).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def argument_parser():
    """The brinq.exe to run, the reduce_file that says what it must leave, the work folder."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--reduce", required=True)
    parser.add_argument("--work", required=True)
    return parser


def fresh_work(work, exe):
    """Empties the work folder and copies brinq.exe into a folder of its own there, so that its
    temporary file is ours alone; the copy's path."""
    shutil.rmtree(work, ignore_errors=True)
    bin_folder = os.path.join(work, "bin")
    os.makedirs(bin_folder)
    copy = os.path.join(bin_folder, "brinq.exe")
    shutil.copy(exe, copy)
    return copy


def main():
    parser = argument_parser()
    parser.add_argument("--random", type=int, default=70, help="randomly changed variants per file")
    parser.add_argument("--seed", type=int, default=5)
    args = parser.parse_args()

    exe = fresh_work(args.work, args.exe)
    bin_folder = os.path.dirname(exe)

    files = variants(args.random, args.seed)
    expected = expected_results(args.reduce, args.work, files)
    names = sorted(files)
    counts = {"variants": len(names), "unchanged": 0, "cleaned": 0, "damaged": 0, "runs": 0,
              "abnormal exits": 0, "temporary files left": 0}
    for b, i in enumerate(range(0, len(names), BATCH)):
        batch = names[i:i + BATCH]
        folder = os.path.join(args.work, f"batch{b:03d}")
        os.makedirs(folder)
        for name in batch:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(files[name])
        code = run_batch(exe, folder, batch, by_folder=b % 2 == 0)
        counts["runs"] += 1
        if code != 0:
            counts["abnormal exits"] += 1
            print(f"batch {b}: brinq.exe ended with {code}")
        for left in set(os.listdir(bin_folder)) - {"brinq.exe"}:
            counts["temporary files left"] += 1
            print(f"batch {b}: {left} left")
            os.remove(os.path.join(bin_folder, left))
        for name in batch:
            with open(os.path.join(folder, name), "rb") as f:
                now = f.read()
            if now != expected[name]:
                counts["damaged"] += 1
                print(f"damaged: {name} ({len(files[name])} bytes before, {len(now)} after, "
                      f"{len(expected[name])} expected)")
            elif now == files[name]:
                counts["unchanged"] += 1
            else:
                counts["cleaned"] += 1
        shutil.rmtree(folder)
    print(", ".join(f"{k}: {v}" for k, v in counts.items()))
    ok = counts["damaged"] == 0 and counts["abnormal exits"] == 0 and counts["temporary files left"] == 0
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
