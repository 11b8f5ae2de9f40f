"""Builds the benchmark corpus: JPEG, PNG and PSD files of a few megabytes each that carry the
blocks brinq.exe removes, a part of small JPEGs of about 20 KB, where each file's fixed steps
weigh most, and one of small JPEGs of 20 to 60 KB of which a fifth are already clean, for the runs
that make each flush wait. A handful of base images come from ImageMagick and exiftool; every corpus file
is derived from one of them by putting different metadata around the same pixels, which takes
seconds rather than the minutes that encoding each file would."""
import os
import random
import struct
import subprocess
import tempfile
import zlib

CONVERT = "/usr/bin/convert"
EXIFTOOL = "exiftool"
PROFILES = ["/usr/share/color/icc/ghostscript/srgb.icc", "/usr/share/color/icc/ghostscript/esrgb.icc"]

VERSION = "4"  # raise when the corpus changes, so that a kept one is rebuilt

# (width, height) of the base JPEGs: about 2, 3.5, 5.5 and 7.5 MB of scan data each.
JPEG_BASES = [(1700, 1500), (2400, 1800), (3000, 2200), (3400, 2600)]
JPEGS_PER_BASE = 11
# The small part: about 12 KB of scan data each, with Exif (and its thumbnail), XMP, a comment
# and, on every other file, a colour profile around it: 20 to 25 KB a file.
SMALL_BASES = [(320, 240), (328, 246), (312, 234), (336, 252)]
SMALLS_PER_BASE = 500
# The mixed part, for the runs that make each flush wait: as the small part but JFIF-first, 100
# files around each of these scans of 19 to 43 KB (files of 19 to 55 KB), every fifth file by
# name already clean: brinq.exe leaves those alone and flushes nothing for them.
MIXED_BASES = [(410, 308), (470, 352), (530, 398), (590, 442), (650, 488)]
MIXEDS_PER_BASE = 100
PNG_BASES = [(1800, 1200), (1400, 1000)]
PNGS_PER_BASE = 7
PSD_BASES = [(1600, 1200), (1200, 900)]
PSDS_PER_BASE = 7


def run_all(commands):
    """Runs the commands two at a time: the machine has two cores."""
    for at in range(0, len(commands), 2):
        running = [subprocess.Popen(c) for c in commands[at:at + 2]]
        for p in running:
            if p.wait() != 0:
                raise SystemExit("failed: %s" % " ".join(p.args))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# JPEG -----------------------------------------------------------------------------------

def segment(marker, body):
    return bytes([0xFF, marker]) + struct.pack(">H", len(body) + 2) + body


def split_jpeg(data):
    """The leading segments as (marker, whole segment), and the rest from the first table on."""
    at, segments = 2, []
    while 0xE0 <= data[at + 1] <= 0xFE:
        length = struct.unpack(">H", data[at + 2:at + 4])[0]
        segments.append((data[at + 1], data[at:at + 2 + length]))
        at += 2 + length
    return segments, data[at:]


def metadata_segments(work):
    """Exif with a thumbnail, XMP and IPTC as exiftool writes them, taken from a small JPEG."""
    small = os.path.join(work, "small.jpg")
    thumb = os.path.join(work, "thumb.jpg")
    run_all([[CONVERT, "-seed", "9", "-size", "640x480", "plasma:fractal", "-quality", "90", small]])
    run_all([[CONVERT, small, "-resize", "160x120", "-quality", "75", thumb]])
    subprocess.run([EXIFTOOL, "-q", "-overwrite_original", "-Make=Brindlequist", "-Model=Bench",
                    "-DateTimeOriginal=2024:05:06 07:08:09", "-ExposureTime=1/125", "-FNumber=5.6",
                    "-ISO=200", "-ThumbnailImage<=" + thumb, "-XMP-dc:Title=Bench",
                    "-XMP-dc:Creator=Someone", "-IPTC:Keywords=bench", small], check=True)
    segments, _ = split_jpeg(read(small))
    found = {}
    for marker, whole in segments:
        if marker == 0xE1 and whole[4:10] == b"Exif\0\0":
            found["exif"] = whole
        elif marker == 0xE1:
            found["xmp"] = whole
        elif marker == 0xED:
            found["iptc"] = whole
    return found


def padded_xmp(xmp_segment, padding):
    """XMP packets may carry whitespace before their closing processing instruction."""
    end = xmp_segment.rindex(b"<?xpacket end")
    body = xmp_segment[4:end] + (b" " * 99 + b"\n") * (padding // 100) + xmp_segment[end:]
    return segment(0xE1, body)


def icc_segments(profile):
    body = b"ICC_PROFILE\0\x01\x01" + read(profile)
    return segment(0xE2, body)


def shuffled_numbers(count, seed):
    """The numbers in the names, in an order that does not sort by size: Wine lists a folder by
    name, and files growing along that order would make every one of them enlarge brinq.exe's
    buffer."""
    numbers = list(range(count))
    random.Random(seed).shuffle(numbers)
    return numbers


def shuffled_names(pattern, count, seed):
    return [pattern % n for n in shuffled_numbers(count, seed)]


def base_jpegs(work, name, sizes, first_seed, attenuate, quality):
    """Noisy plasma pictures, each encoded once: the pixels of every corpus JPEG."""
    commands, bases = [], []
    for n, (w, h) in enumerate(sizes):
        path = os.path.join(work, "%s%d.jpg" % (name, n))
        commands.append([CONVERT, "-seed", str(first_seed + n), "-size", "%dx%d" % (w, h), "plasma:fractal",
                         "-attenuate", attenuate, "+noise", "Gaussian", "-quality", quality, path])
        bases.append(path)
    run_all(commands)
    return bases


def derive_jpegs(folder, bases, per_base, names, head_of):
    """per_base files around the scan of each base; head_of(count, i, jfif) gives the leading
    segments of the count-th file, the i-th of its base."""
    count = 0
    for path in bases:
        segments, scan = split_jpeg(read(path))
        jfif = segments[0][1]
        for i in range(per_base):
            write(os.path.join(folder, names[count]), b"\xFF\xD8" + b"".join(head_of(count, i, jfif)) + scan)
            count += 1


def make_jpegs(work, folder, meta):
    bases = base_jpegs(work, "base", JPEG_BASES, 1, "0.6", "92")
    icc = [icc_segments(p) for p in PROFILES]

    def head_of(count, i, jfif):
        comment = segment(0xFE, b"bench file %d, written for timing only" % count)
        head = [meta["exif"], padded_xmp(meta["xmp"], 2000 + 3000 * i), icc[i % 2], meta["iptc"], comment]
        exif_first = count % 2 == 1
        return head if exif_first else [jfif] + head

    names = shuffled_names("photo_%03d.jpg", len(bases) * JPEGS_PER_BASE, 1)
    derive_jpegs(folder, bases, JPEGS_PER_BASE, names, head_of)


def make_small_jpegs(work, folder, meta):
    bases = base_jpegs(work, "small_base", SMALL_BASES, 30, "0.3", "75")
    icc = icc_segments(PROFILES[0])

    def head_of(count, i, jfif):
        comment = segment(0xFE, b"small bench file %d" % count)
        profile = [icc] if i % 2 else []
        head = [meta["exif"]] + profile + [padded_xmp(meta["xmp"], 100 * (i % 10)), comment]
        exif_first = count % 4 >= 2
        return head if exif_first else [jfif] + head

    names = shuffled_names("small_%04d.jpg", len(bases) * SMALLS_PER_BASE, 4)
    derive_jpegs(folder, bases, SMALLS_PER_BASE, names, head_of)


def make_mixed_jpegs(work, folder, meta):
    bases = base_jpegs(work, "mixed_base", MIXED_BASES, 40, "0.3", "75")
    icc = icc_segments(PROFILES[0])
    numbers = shuffled_numbers(len(bases) * MIXEDS_PER_BASE, 5)

    def head_of(count, i, jfif):
        if numbers[count] % 5 == 4:
            return [jfif]
        profile = [icc] if i % 2 else []
        comment = segment(0xFE, b"mixed bench file %d" % count)
        return [jfif, meta["exif"]] + profile + [padded_xmp(meta["xmp"], 100 * (i % 10)), comment]

    derive_jpegs(folder, bases, MIXEDS_PER_BASE, ["mixed_%03d.jpg" % n for n in numbers], head_of)


# PNG ------------------------------------------------------------------------------------

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def make_pngs(work, folder):
    commands, bases = [], []
    for n, (w, h) in enumerate(PNG_BASES):
        path = os.path.join(work, "base%d.png" % n)
        commands.append([CONVERT, "-define", "png:exclude-chunk=date,tIME", "-seed", str(n + 20),
                         "-size", "%dx%d" % (w, h), "gradient:teal-khaki", "-attenuate", "0.8",
                         "+noise", "Gaussian", "-profile", PROFILES[n % 2], "-density", "300",
                         "-units", "PixelsPerInch", "-depth", "8", path])
        bases.append(path)
    run_all(commands)
    names = shuffled_names("image_%03d.png", len(bases) * PNGS_PER_BASE, 2)
    count = 0
    for path in bases:
        data = read(path)
        iend = data.rindex(b"IEND") - 4
        for i in range(PNGS_PER_BASE):
            text = chunk(b"tEXt", b"Comment\0bench file %d" % count)
            trailer = b"" if i % 3 else b"bytes after the end" * 50
            write(os.path.join(folder, names[count]), data[:iend] + text + data[iend:] + trailer)
            count += 1


# PSD ------------------------------------------------------------------------------------

def resource(ident, data):
    return b"8BIM" + struct.pack(">HHI", ident, 0, len(data)) + data + b"\0" * (len(data) % 2)


def make_psds(work, folder, xmp):
    names = shuffled_names("document_%03d.psd", len(PSD_BASES) * PSDS_PER_BASE, 3)
    count = 0
    for n, (w, h) in enumerate(PSD_BASES):
        jpeg = os.path.join(work, "base%d.jpg" % n)
        thumb = os.path.join(work, "psdthumb%d.jpg" % n)
        rgb = subprocess.run([CONVERT, jpeg, "-resize", "%dx%d!" % (w, h), "-depth", "8", "rgb:-"],
                             check=True, stdout=subprocess.PIPE).stdout
        run_all([[CONVERT, jpeg, "-resize", "160x120!", "-quality", "75", thumb]])
        planes = b"".join(rgb[c::3] for c in range(3))
        row = (160 * 24 + 31) // 32 * 4
        thumb_data = read(thumb)
        thumbnail = struct.pack(">IIIIIIHH", 1, 160, 120, row, row * 120, len(thumb_data), 24, 1) + thumb_data
        header = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, h, w, 8, 3) + struct.pack(">I", 0)
        for i in range(PSDS_PER_BASE):
            resolution = struct.pack(">IHHIHH", 300 << 16, 1, 1, 300 << 16, 1, 1)
            section = b"".join([resource(1005, resolution), resource(1036, thumbnail),
                                resource(1039, read(PROFILES[i % 2])),
                                resource(1060, xmp + b" " * (1000 * i)),
                                resource(1028, b"\x1c\x02\x00\x00\x02\x00\x04")])
            body = struct.pack(">I", len(section)) + section + struct.pack(">IH", 0, 0) + planes
            write(os.path.join(folder, names[count]), header + body)
            count += 1


def build(corpus):
    """Fills corpus/jpeg, corpus/png, corpus/psd, corpus/small and corpus/mixed."""
    with tempfile.TemporaryDirectory() as work:
        for part in ("jpeg", "png", "psd", "small", "mixed"):
            os.makedirs(os.path.join(corpus, part), exist_ok=True)
        meta = metadata_segments(work)
        make_jpegs(work, os.path.join(corpus, "jpeg"), meta)
        make_small_jpegs(work, os.path.join(corpus, "small"), meta)
        make_mixed_jpegs(work, os.path.join(corpus, "mixed"), meta)
        make_pngs(work, os.path.join(corpus, "png"))
        xmp = meta["xmp"][33:]  # the packet without its APP1 identifier
        make_psds(work, os.path.join(corpus, "psd"), xmp)
