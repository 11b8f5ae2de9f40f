#!/usr/bin/env python3
"""The release is reproducible: the repository's HEAD, cloned into two folders of different
names and lengths, gives from scripts/release.sh the same zip and the same brinq.exe byte for
byte, and the README's own build (build/windows) gives that brinq.exe too. The zip holds its
four entries in order, dated with the commit's time, and SHA256SUMS checks; no build folder
and no link time are in the program.

    reproducible.py --repo REPOSITORY --work FOLDER
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import time
import zipfile

ENTRIES = ["brinq.exe", "README.txt", "LICENSE.txt", "SHA256SUMS"]
# The second clone's folder name is letters only: it survives any tool's turning of a path into
# a symbol name, so a search for it finds the build's folder in whatever form it took.
ANOTHER_FOLDER = "anothercloneinalongerfolder"
CLONES = ("a", os.path.join(ANOTHER_FOLDER, "b"))
README_BUILD = [["cmake", "-S", ".", "-B", "build/windows", "-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake"],
                ["cmake", "--build", "build/windows", "-j2", "--target", "brinq"]]

failures = []


def check(what, ok):
    print(("ok:     " if ok else "FAILED: ") + what, flush=True)
    if not ok:
        failures.append(what)


def git(repo, *args):
    return subprocess.run(["git", "-C", repo] + list(args), check=True, stdout=subprocess.PIPE, text=True).stdout.strip()


def clone(repo, commit, folder):
    subprocess.run(["git", "clone", "-q", "--no-checkout", repo, folder], check=True)
    git(folder, "checkout", "-q", "--detach", commit)


def release(folder):
    """The zip's path: release.sh's last line."""
    result = subprocess.run(["scripts/release.sh"], cwd=folder, check=True, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, text=True)
    return result.stdout.strip().splitlines()[-1]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def pe_time_stamp(exe):
    pe = struct.unpack_from("<I", exe, 60)[0]
    return struct.unpack_from("<I", exe, pe + 8)[0]


def version_text(exe):
    """The version resource's ProductVersion, read from the program's bytes."""
    key = "ProductVersion\0".encode("utf-16-le")
    at = exe.index(key) + len(key)
    at += -at % 4  # the value is aligned to 32 bits
    end = at
    while exe[end:end + 2] != b"\0\0":
        end += 2
    return exe[at:end].decode("utf-16-le")


def holds(data, text):
    return text.encode() in data or text.encode("utf-16-le") in data


def check_zip(folder, zip_path, exe, commit_time):
    with zipfile.ZipFile(zip_path) as archive:
        infos = archive.infolist()
        check("the zip's entries are %s, in that order" % ", ".join(ENTRIES), [i.filename for i in infos] == ENTRIES)
        dos_time = time.gmtime(commit_time - commit_time % 2)[:6]  # the zip keeps even seconds
        check("every entry carries the commit's time", all(i.date_time == dos_time for i in infos))
        unpacked = os.path.join(folder, "build", "unpacked")
        shutil.rmtree(unpacked, ignore_errors=True)
        archive.extractall(unpacked)
    check("the zip's brinq.exe is the one built", read(os.path.join(unpacked, "brinq.exe")) == exe)
    sums = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=unpacked, stdout=subprocess.PIPE, text=True)
    check("sha256sum -c SHA256SUMS in the unpacked folder: " + " ".join(sums.stdout.split()), sums.returncode == 0)
    readme_text = read(os.path.join(unpacked, "README.txt")).decode("utf-8")
    readme_md = read(os.path.join(folder, "README.md")).decode("utf-8")
    lines = readme_text.replace("\r\n", "\n")
    check("README.txt has Windows line ends only", "\n" not in readme_text.replace("\r\n", ""))
    check("README.txt is the README's whole section for Windows users",
          lines.startswith("## Using it on Windows\n") and (lines + "\n## ") in readme_md)
    license_text = read(os.path.join(unpacked, "LICENSE.txt")).decode("utf-8")
    check("LICENSE.txt is LICENSE with Windows line ends",
          license_text == read(os.path.join(folder, "LICENSE")).decode("utf-8").replace("\n", "\r\n"))
    check("the zip is named after the version resource (%s)" % version_text(exe),
          os.path.basename(zip_path) == "brinq-%s-win64.zip" % version_text(exe))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    commit = git(args.repo, "rev-parse", "HEAD")
    commit_time = int(git(args.repo, "log", "-1", "--format=%ct", commit))
    print("building the release of %s twice" % commit[:12], flush=True)

    folders = [os.path.join(work, c) for c in CLONES]
    zips, exes = [], []
    for folder in folders:
        clone(args.repo, commit, folder)
        zips.append(release(folder))
        exes.append(read(os.path.join(folder, "build", "release", "windows", "brinq.exe")))
    for command in README_BUILD:
        subprocess.run(command, cwd=folders[1], check=True, stdout=subprocess.DEVNULL)
    own_build = read(os.path.join(folders[1], "build", "windows", "brinq.exe"))

    check("both zips have one name (%s)" % os.path.basename(zips[0]),
          os.path.basename(zips[0]) == os.path.basename(zips[1]))
    check("the two zips are byte for byte the same", read(zips[0]) == read(zips[1]))
    check("the two release builds of brinq.exe are byte for byte the same", exes[0] == exes[1])
    check("the README's build/windows/brinq.exe is the release's", own_build == exes[1])
    check("no link time in the PE header", pe_time_stamp(exes[1]) == 0)
    check("no build folder in brinq.exe", not any(holds(exe, name) for exe in exes + [own_build]
                                                   for name in (ANOTHER_FOLDER, work)))
    check_zip(folders[1], zips[1], exes[1], commit_time)
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
