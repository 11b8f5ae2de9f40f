"""Pictures of every kind for the tests that run brinq.exe on whole folders: JPEGs with Exif
first or JFIF first and metadata to drop, PNGs with chunks to drop or none, PSDs with resources
to drop or none; most small, some large enough to be copied in many writes."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import images  # noqa: E402

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
