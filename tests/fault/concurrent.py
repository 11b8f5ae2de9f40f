#!/usr/bin/env python3
"""Two brinq.exe started at once from one folder, so through one temporary file, each
sweeping a folder of its own, for several rounds. Every file must end exactly as it was or
as its complete reduced copy (as reduce_file computes it natively), and here every file
that has something to drop must be cleaned; no temporary file and no kept copy may be left
beside the program, and both processes must end normally.

    concurrent.py --exe brinq.exe --reduce reduce_file --work FOLDER [--rounds N] [--files N]
"""
import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import hostile  # noqa: E402
import images  # noqa: E402

FOLDERS = ("first", "second")

XMP_BODY = b"http://ns.adobe.com/xap/1.0/\x00<x:xmpmeta xmlns:x='adobe:ns:meta/'/>"


def scan_data(rng, size):
    """Entropy-coded bytes with no marker in them: every FF is followed by a stuffed zero."""
    return rng.randbytes(size).replace(b"\xff", b"\xff\x00")


def exif_body(rng):
    return images.EXIF_BODY + rng.randbytes(rng.randrange(20, 4000))


def jpeg_exif_first(rng, size):
    soi = b"\xff\xd8"
    segments = [images.jpeg_segment(0xE1, exif_body(rng)), images.jpeg_segment(0xE1, XMP_BODY),
                images.jpeg_segment(0xE2, images.ICC_BODY), images.jpeg_segment(0xFE, b"camera note")]
    tables = images.DQT + images.SOF0 + images.DHT
    return soi + b"".join(segments) + tables + images.SOS + scan_data(rng, size) + images.EOI


def jpeg_jfif_first(rng, size):
    soi = b"\xff\xd8"
    segments = [images.jpeg_segment(0xE0, images.JFIF_BODY), images.jpeg_segment(0xE1, exif_body(rng)),
                images.jpeg_segment(0xE2, images.ICC_BODY), images.jpeg_segment(0xE1, XMP_BODY),
                images.jpeg_segment(0xFE, b"edited")]
    return soi + b"".join(segments) + images.DQT + images.SOF0 + images.DRI + images.DHT + images.SOS + \
        scan_data(rng, size) + images.EOI


def jpeg_plain(rng, size):
    return b"\xff\xd8" + images.jpeg_segment(0xE0, images.JFIF_BODY) + images.DQT + images.SOF0 + images.DHT + \
        images.SOS + scan_data(rng, size) + images.EOI


def png_chunks(chunks):
    return images.PNG_SIGNATURE + b"".join(images.png_chunk(kind, data) for kind, data in chunks)


def png_dropped(rng, size):
    ihdr, _ = images.png_pixels()
    icc = (b"iCCP", b"profile\x00\x00" + rng.randbytes(rng.randrange(50, 3000)))
    phys = (b"pHYs", images.be32(2835) + images.be32(2835) + b"\x01")
    chrm = (b"cHRM", rng.randbytes(32))
    data = png_chunks([ihdr, icc, phys, chrm, (b"IDAT", rng.randbytes(size)), (b"IEND", b"")])
    return data + (b"trailer after IEND" if rng.random() < 0.5 else b"")


def png_plain(rng, size):
    ihdr, _ = images.png_pixels()
    return png_chunks([ihdr, (b"IDAT", rng.randbytes(size)), (b"IEND", b"")])


def psd_mixed(rng, size):
    thumbnail = images.psd_resource(1036, rng.randbytes(rng.randrange(40, 5000)))
    resolution = images.psd_resource(1005, rng.randbytes(16))
    xmp = images.psd_resource(1060, b"<x:xmpmeta/>")
    return images.psd_file([resolution, thumbnail, xmp], image=images.be16(0) + rng.randbytes(size))


def psd_kept(rng, size):
    resolution = images.psd_resource(1005, rng.randbytes(16))
    return images.psd_file([resolution], image=images.be16(0) + rng.randbytes(size))


# Most files are small; some are large enough to be copied in many writes.
SHAPES = [(jpeg_exif_first, 8), (jpeg_jfif_first, 8), (jpeg_plain, 2), (png_dropped, 6), (png_plain, 2),
          (psd_mixed, 1), (psd_kept, 1)]
EXTENSIONS = {"jpeg": ".jpg", "png": ".png", "psd": ".psd"}


def picture_size(rng):
    roll = rng.random()
    if roll < 0.04:
        return rng.randrange(1500000, 3000000)
    if roll < 0.2:
        return rng.randrange(100000, 800000)
    return rng.randrange(200, 40000)


def folder_files(rng, count):
    builders = [make for make, weight in SHAPES for _ in range(weight)]
    files = {}
    for i in range(count):
        make = rng.choice(builders)
        files[f"{i:03d}_{make.__name__}{EXTENSIONS[make.__name__.split('_')[0]]}"] = make(rng, picture_size(rng))
    return files


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run_together(exe, folders):
    """Both processes started before either is waited for; their exit codes."""
    processes = [subprocess.Popen(["wine", exe, hostile.windows_path(folder)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for folder in folders]
    codes = []
    for process in processes:
        try:
            codes.append(process.wait(timeout=300))
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            codes.append("timeout")
    return codes


def main():
    parser = hostile.argument_parser()
    parser.add_argument("--rounds", type=int, default=4)
    parser.add_argument("--files", type=int, default=80, help="files in each folder of a round")
    parser.add_argument("--seed", type=int, default=11)
    args = parser.parse_args()

    exe = hostile.fresh_work(args.work, args.exe)
    bin_folder = os.path.dirname(exe)
    rng = random.Random(args.seed)

    counts = {"rounds": args.rounds, "files": 0, "to clean": 0, "cleaned": 0, "left as they were": 0,
              "uncleaned": 0, "damaged": 0, "abnormal exits": 0, "temporary files left": 0, "kept copies": 0}
    for r in range(args.rounds):
        round_folder = os.path.join(args.work, f"round{r}")
        files = {f: folder_files(rng, args.files) for f in FOLDERS}
        expected = {f: hostile.expected_results(args.reduce, args.work, files[f]) for f in FOLDERS}
        for f in FOLDERS:
            os.makedirs(os.path.join(round_folder, f))
            for name, data in files[f].items():
                write(os.path.join(round_folder, f, name), data)

        codes = run_together(exe, [os.path.join(round_folder, f) for f in FOLDERS])
        for f, code in zip(FOLDERS, codes):
            if code != 0:
                counts["abnormal exits"] += 1
                print(f"round {r}: brinq.exe on {f} ended with {code}")
        if os.path.exists(os.path.join(bin_folder, hostile.TEMP_NAME)):
            counts["temporary files left"] += 1
            print(f"round {r}: temporary file left")
            os.remove(os.path.join(bin_folder, hostile.TEMP_NAME))
        for extra in sorted(set(os.listdir(bin_folder)) - {"brinq.exe"}):
            counts["kept copies"] += 1
            print(f"round {r}: kept beside the program: {extra}")
            os.remove(os.path.join(bin_folder, extra))

        for f in FOLDERS:
            for name, before in sorted(files[f].items()):
                now, want = read(os.path.join(round_folder, f, name)), expected[f][name]
                counts["files"] += 1
                counts["to clean"] += want != before
                if now == want and want != before:
                    counts["cleaned"] += 1
                elif now == before:
                    counts["left as they were"] += 1
                    if want != before:
                        counts["uncleaned"] += 1
                        print(f"round {r}: not cleaned: {f}/{name}")
                else:
                    counts["damaged"] += 1
                    print(f"round {r}: damaged: {f}/{name} ({len(before)} bytes before, {len(now)} after, "
                          f"{len(want)} expected)")
        shutil.rmtree(round_folder)
    print(", ".join(f"{k}: {v}" for k, v in counts.items()))
    bad = ("uncleaned", "damaged", "abnormal exits", "temporary files left", "kept copies")
    ok = all(counts[k] == 0 for k in bad) and counts["cleaned"] == counts["to clean"] > 0
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
