#!/usr/bin/python3
"""Makes the sample images in samples/: small PNG, JPEG and PSD files that carry the blocks
brinq.exe removes, next to blocks it keeps. Pixels and JPEG streams come from ImageMagick,
metadata from exiftool; the PSD files are assembled here because ImageMagick writes no
thumbnail resource. Run scripts/install-deps.sh samples first."""
import os
import struct
import subprocess
import sys
import tempfile

CONVERT = "/usr/bin/convert"  # the real ImageMagick; another convert may come first in PATH
EXIFTOOL = "exiftool"
RGB_PROFILE = "/usr/share/color/icc/ghostscript/srgb.icc"
CMYK_PROFILE = "/usr/share/color/icc/ghostscript/ps_cmyk.icc"

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "samples")


def run(*args):
    subprocess.run(args, check=True)


def output(*args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE).stdout


def convert(*args):
    # No date chunks or properties, so that a re-run gives the same bytes.
    run(CONVERT, "-define", "png:exclude-chunk=date,tIME", *args[:-1], "-depth", "8", args[-1])


def exiftool(path, *tags):
    run(EXIFTOOL, "-q", "-overwrite_original", *tags, path)


def plasma(path, size, colours, seed, *extra):
    convert("-seed", str(seed), "-size", size, "plasma:" + colours, *extra, path)


# PNG ------------------------------------------------------------------------------------

def png_chunks(data):
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind
        at += 12 + length


def make_pngs(work):
    profiled = os.path.join(OUT, "profile_text_trailer.png")
    plasma(profiled, "160x120", "red-blue", 11, "-profile", RGB_PROFILE,
           "-density", "300", "-units", "PixelsPerInch", "-set", "comment", "made for brinq samples")
    with open(profiled, "ab") as f:
        f.write(b"bytes after IEND: " + bytes(range(256)))

    # Chromaticities and density only; a palette image keeps it small.
    plain = os.path.join(OUT, "density_chroma.png")
    convert("-size", "200x80", "gradient:navy-orange", "-colors", "64",
            "-density", "72", "-units", "PixelsPerInch", plain)

    for path, wanted in ((profiled, {b"iCCP", b"pHYs", b"cHRM", b"tEXt"}),
                         (plain, {b"pHYs", b"cHRM"})):
        with open(path, "rb") as f:
            missing = wanted - set(png_chunks(f.read()))
        if missing:
            sys.exit("%s lacks %s" % (path, sorted(missing)))


# JPEG -----------------------------------------------------------------------------------

def jpeg_segments(data):
    at = 2
    while at + 4 <= len(data) and data[at + 1] != 0xDA:
        length = struct.unpack(">H", data[at + 2:at + 4])[0]
        yield data[at + 1], data[at + 4:at + 4 + min(length - 2, 5)]
        at += 2 + length


def first_and_adobe(path):
    with open(path, "rb") as f:
        segments = list(jpeg_segments(f.read()))
    return segments[0], any(m == 0xEE and body == b"Adobe" for m, body in segments)


def make_jpegs(work):
    base = os.path.join(work, "base.jpg")
    plasma(base, "320x240", "green-yellow", 3, "-quality", "85")
    thumb = os.path.join(work, "thumb.jpg")
    convert(base, "-resize", "80x60", "-quality", "70", thumb)

    # Only JFIF and the tables: nothing to remove, so it stays as it is.
    clean = os.path.join(OUT, "already_clean.jpg")
    convert(base, clean)

    # JFIF first, then Exif, XMP, IPTC, a comment and an ICC profile.
    jfif = os.path.join(OUT, "jfif_exif_icc_xmp_com.jpg")
    convert(base, "-profile", RGB_PROFILE, "-set", "comment", "made for brinq samples", jfif)
    exiftool(jfif, "-Make=Brindlequist", "-Model=Sampler", "-DateTimeOriginal=2024:01:02 03:04:05",
             "-XMP-dc:Title=Sample", "-XMP-dc:Creator=Someone", "-IPTC:Keywords=sample")

    # Exif first (no JFIF segment) with an embedded thumbnail.
    exif = os.path.join(OUT, "exif_first_thumbnail.jpg")
    convert(base, "-quality", "80", exif)
    exiftool(exif, "-JFIF:all=", "-Make=Brindlequist", "-Model=Sampler",
             "-ThumbnailImage<=" + thumb, "-XMP-dc:Title=Sample")

    # CMYK: libjpeg writes Adobe's APP14 for it, which decoders need; Exif goes first.
    cmyk = os.path.join(OUT, "cmyk_adobe.jpg")
    convert(base, "-colorspace", "CMYK", "-quality", "85", cmyk)
    exiftool(cmyk, "-Make=Brindlequist", "-XMP-dc:Title=Sample", "-ICC_Profile<=" + CMYK_PROFILE)

    for path, kind, adobe in ((clean, b"JFIF\0", False), (jfif, b"JFIF\0", False),
                              (exif, b"Exif\0", False), (cmyk, b"Exif\0", True)):
        (marker, ident), has_adobe = first_and_adobe(path)
        if marker != 0xE0 + (kind == b"Exif\0") or ident != kind or has_adobe != adobe:
            sys.exit("%s: unexpected segments" % path)


# PSD ------------------------------------------------------------------------------------

def pascal_name(name):
    raw = bytes([len(name)]) + name
    return raw + b"\0" * (len(raw) % 2)


def resource(ident, data, name=b""):
    block = b"8BIM" + struct.pack(">H", ident) + pascal_name(name) + struct.pack(">I", len(data)) + data
    return block + b"\0" * (len(data) % 2)


def resolution_info(dpi):
    # Fixed 16.16 resolution, pixels per inch, sizes shown in inches; both axes.
    one_axis = struct.pack(">IHH", dpi << 16, 1, 1)
    return one_axis + one_axis


def thumbnail_resource(jpeg, width, height):
    row = (width * 24 + 31) // 32 * 4
    return struct.pack(">IIIIIIHH", 1, width, height, row, row * height, len(jpeg), 24, 1) + jpeg


def psd(mode, channels, width, height, colour_data, resources, planes):
    header = b"8BPS" + struct.pack(">H6xHIIHH", 1, channels, height, width, 8, mode)
    section = b"".join(resources)
    return (header + struct.pack(">I", len(colour_data)) + colour_data +
            struct.pack(">I", len(section)) + section +
            struct.pack(">I", 0) +          # no layer and mask information
            struct.pack(">H", 0) + planes)  # raw image data, channel after channel


def make_psds(work):
    width, height = 128, 96
    source = os.path.join(work, "psd_base.png")
    plasma(source, "%dx%d" % (width, height), "purple-gold", 5)
    rgb = output(CONVERT, source, "-depth", "8", "rgb:-")
    thumb_path = os.path.join(work, "psd_thumb.jpg")
    convert(source, "-resize", "64x48", "-quality", "70", thumb_path)
    xmp_path = os.path.join(work, "psd.xmp")
    run(EXIFTOOL, "-q", "-o", xmp_path, "-XMP-dc:Title=Sample", "-XMP-dc:Creator=Someone",
        "-XMP-xmp:CreatorTool=Sampler")
    with open(thumb_path, "rb") as f:
        thumb = thumbnail_resource(f.read(), 64, 48)
    with open(xmp_path, "rb") as f:
        xmp = f.read()
    with open(RGB_PROFILE, "rb") as f:
        icc = f.read()

    planes = b"".join(rgb[c::3] for c in range(3))
    resources = [resource(1005, resolution_info(300)), resource(1036, thumb), resource(1039, icc),
                 resource(1060, xmp), resource(4000, b"plug-in data", b"Sampler"),
                 resource(1044, struct.pack(">I", 7), b"X")]
    with open(os.path.join(OUT, "rgb_thumbnail_xmp.psd"), "wb") as f:
        f.write(psd(3, 3, width, height, b"", resources, planes))

    # Indexed colour: a 6x6x6 cube in the 768-byte colour mode data, one index per pixel.
    steps = [0, 51, 102, 153, 204, 255]
    cube = [(r, g, b) for r in steps for g in steps for b in steps] + [(0, 0, 0)] * 40
    palette = bytes(c[0] for c in cube) + bytes(c[1] for c in cube) + bytes(c[2] for c in cube)
    level = lambda v: (v + 25) // 51
    indices = bytes(level(rgb[i]) * 36 + level(rgb[i + 1]) * 6 + level(rgb[i + 2])
                    for i in range(0, len(rgb), 3))
    resources = [resource(1005, resolution_info(72)), resource(1036, thumb), resource(1060, xmp)]
    with open(os.path.join(OUT, "indexed_palette.psd"), "wb") as f:
        f.write(psd(2, 1, width, height, palette, resources, indices))


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        make_pngs(work)
        make_jpegs(work)
        make_psds(work)
    for name in sorted(os.listdir(OUT)):
        print("%8d  samples/%s" % (os.path.getsize(os.path.join(OUT, name)), name))


if __name__ == "__main__":
    main()
