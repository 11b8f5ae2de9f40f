#!/usr/bin/env python3
"""Writes the release zip: brinq.exe, README.txt (the README's section for Windows users),
LICENSE.txt and SHA256SUMS of those three, in that order. Nothing of the machine or the hour
goes in: every entry carries the commit's time and the same attributes, so one commit and one
brinq.exe give one zip.

usage: pack_release.py SOURCE_FOLDER BRINQ_EXE COMMIT_TIME ZIP
  SOURCE_FOLDER  the committed tree (README.md, LICENSE); COMMIT_TIME in seconds since 1970
"""
import hashlib
import sys
import time
import zipfile
from pathlib import Path

SECTION = "## Using it on Windows"


def windows_lines(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def windows_section(readme):
    """From the section's heading up to the next heading of the same level."""
    lines = readme.splitlines()
    start = lines.index(SECTION)
    end = next((n for n in range(start + 1, len(lines)) if lines[n].startswith("## ")), len(lines))
    return "\n".join(lines[start:end]).rstrip() + "\n"


def checksums(entries):
    return "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in entries).encode()


def entry_info(name, date_time):
    info = zipfile.ZipInfo(name, date_time)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0  # MS-DOS attributes, whichever system packs it
    info.external_attr = 0
    return info


def main():
    source, exe, commit_time, target = Path(sys.argv[1]), Path(sys.argv[2]), int(sys.argv[3]), Path(sys.argv[4])
    entries = [("brinq.exe", exe.read_bytes()),
               ("README.txt", windows_lines(windows_section((source / "README.md").read_text(encoding="utf-8")))),
               ("LICENSE.txt", windows_lines((source / "LICENSE").read_text(encoding="utf-8")))]
    entries.append(("SHA256SUMS", checksums(entries)))
    date_time = time.gmtime(commit_time)[:6]
    with zipfile.ZipFile(target, "w") as archive:
        for name, data in entries:
            archive.writestr(entry_info(name, date_time), data, compresslevel=9)


if __name__ == "__main__":
    main()
