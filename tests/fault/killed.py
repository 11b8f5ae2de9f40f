#!/usr/bin/env python3
"""brinq.exe killed (SIGKILL, as by Task Manager, a logoff or a crash) at each step of a
replacement and at random instants of batches of large images, then started again. Every source
must end as it was or as its complete reduced copy (as reduce_file computes it natively), with
its last-write time; no temporary file, journal or kept copy may be left beside the program,
but where a test asks for a kept copy.

    killed.py --exe brinq.exe --reduce reduce_file --work FOLDER [--rounds N] [--seed S] [--only steps|campaign]
"""
import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import hostile  # noqa: E402
import images  # noqa: E402
from pictures import jpeg_exif_first, jpeg_jfif_first, png_dropped, png_plain, psd_mixed, read, write  # noqa: E402

SAVED = (1009972800, 1009972800)  # 2002-01-02 12:00 UTC, as the sources' last-write time
KINDS = "source,temp,journal,times,commit"

failures = []


def check(what, ok):
    print(("ok:     " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def run(exe, args, kill=None):
    """brinq.exe on Windows paths; with kill = (events, at, how), killed by the preload there."""
    env = dict(os.environ)
    if kill:
        events, at, how = kill
        env.update(LD_PRELOAD=PRELOAD, KILL_SOURCES=SOURCES, KILL_EVENTS=events, KILL_AT=str(at), KILL_HOW=how)
    try:
        return subprocess.run(["wine", exe] + [hostile.windows_path(a) for a in args], env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=300).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def count_events(exe, sources):
    """The kinds of the events, in order, that a whole run over `sources` (name -> bytes) meets."""
    bin_folder = fresh_bin("count-bin", exe)
    put_sources(SOURCES, sources)
    note = os.path.join(WORK, "count.note")
    env = dict(os.environ, LD_PRELOAD=PRELOAD, KILL_SOURCES=SOURCES, KILL_EVENTS=KINDS, KILL_AT="0", KILL_NOTE=note)
    subprocess.run(["wine", os.path.join(bin_folder, "brinq.exe"), hostile.windows_path(SOURCES)], env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    with open(note, "a+") as f:
        f.seek(0)
        kinds = [line.split()[1] for line in f]
    os.remove(note)
    shutil.rmtree(bin_folder)
    return kinds


def fresh_bin(name, exe):
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(exe, os.path.join(folder, "brinq.exe"))
    return folder


def put_sources(folder, sources):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in sources.items():
        write(os.path.join(folder, name), data)
        os.utime(os.path.join(folder, name), SAVED)


def leftovers(bin_folder):
    return sorted(set(os.listdir(bin_folder)) - {"brinq.exe"})


def dated(path):
    return int(os.stat(path).st_mtime) == SAVED[1]


def step_images(rng):
    """A PNG whose copy is shorter, and a JPEG whose fixed JFIF segment makes its copy longer,
    each large enough that the write over it is one large write."""
    ihdr, _ = images.png_pixels()
    shrink = png_dropped(rng, 600000)
    head = b"\xff\xd8" + images.jpeg_segment(0xE1, b"Exif\x00\x00") + images.DQT + images.SOF0 + images.DHT + \
        images.SOS
    grow = head + rng.randbytes(500000).replace(b"\xff", b"\xff\x00") + images.EOI
    return {"shrink.png": shrink, "grow.jpg": grow}


# Where the kill lands: the kind of event, its first or last occurrence in the file, how a write
# is cut, and what the source must end as once brinq.exe has started again.
STEPS = [
    ("while the copy is written", "temp", "first", "half", "original"),
    ("while the journal is written", "journal", "first", "half", "original"),
    ("after the journal is written", "source", "first", "before", "copy"),
    ("in the middle of the first write into the source", "source", "first", "half", "copy"),
    ("in the middle of the write over the source", "source", "last", "half", "copy"),
    ("between that write and the cut of the old tail", "source", "last", "after", "copy"),
    ("before the times are put back", "times", "first", "before", "copy"),
    ("after the temporary file is deleted, before the journal", "commit", "first", "before", "copy"),
]


def event_number(kinds, kind, which):
    """The first or last event of `kind`, counted among the events of that kind alone."""
    return 1 if which == "first" else kinds.count(kind)


def killed_in_file(exe, name, data, kinds, kill_step):
    """One file cleaned by a brinq.exe killed at `kill_step` = (kind, which, how); the folders."""
    kind, which, how = kill_step
    bin_folder = fresh_bin("bin", exe)
    put_sources(SOURCES, {name: data})
    code = run(os.path.join(bin_folder, "brinq.exe"), [os.path.join(SOURCES, name)],
               kill=(kind, event_number(kinds, kind, which), how))
    return bin_folder, code


def start_again(bin_folder, *args):
    empty = os.path.join(WORK, "empty")
    os.makedirs(empty, exist_ok=True)
    return run(os.path.join(bin_folder, "brinq.exe"), list(args) or [empty])


def steps(exe, reduce_tool, rng):
    pictures = step_images(rng)
    expected = hostile.expected_results(reduce_tool, WORK, pictures)
    for name, data in pictures.items():
        kinds = count_events(exe, {name: data})
        print(f"== {name}: {len(data)} bytes, copy {len(expected[name])}; events {' '.join(kinds)}")
        for label, kind, which, how, ends in STEPS:
            bin_folder, code = killed_in_file(exe, name, data, kinds, (kind, which, how))
            source = os.path.join(SOURCES, name)
            check(f"{name}: killed {label}", code == -9)
            code = start_again(bin_folder)
            want = data if ends == "original" else expected[name]
            check(f"{name}: after the next start, the source is the {ends}", read(source) == want)
            check(f"{name}: its last-write time kept", dated(source))
            check(f"{name}: nothing left beside the program, the next start ended normally",
                  leftovers(bin_folder) == [] and code == 0)
    return pictures, expected


def copy_fails_its_check(exe, pictures, expected):
    name = "shrink.png"
    kinds = count_events(exe, {name: pictures[name]})
    for kind, which, how in (("source", "first", "before"), ("source", "last", "half")):
        print(f"== the copy fails its checksum after a kill at {kind} {which} {how}")
        bin_folder, code = killed_in_file(exe, name, pictures[name], kinds, (kind, which, how))
        temp = os.path.join(bin_folder, hostile.TEMP_NAME)
        copy = bytearray(read(temp))
        copy[len(copy) // 2] ^= 0x40
        write(temp, bytes(copy))
        source = os.path.join(SOURCES, name)
        before = read(source)
        start_again(bin_folder)
        check("the source as the kill left it: nothing written over it", read(source) == before)
        check("nothing left beside the program", leftovers(bin_folder) == [])


def source_changed_or_gone(exe, pictures, expected):
    name = "shrink.png"
    kinds = count_events(exe, {name: pictures[name]})
    source = os.path.join(SOURCES, name)
    print("== the source is saved anew after the kill")
    bin_folder, _ = killed_in_file(exe, name, pictures[name], kinds, ("source", "last", "half"))
    with open(source, "ab") as f:
        f.write(b"a newer save")
    saved = read(source)
    start_again(bin_folder)
    check("the newer save stands", read(source) == saved)
    check("the complete copy kept beside the program", leftovers(bin_folder) == ["shrink (1).png"] and
          read(os.path.join(bin_folder, "shrink (1).png")) == expected[name])
    print("== the source is removed after the kill")
    bin_folder, _ = killed_in_file(exe, name, pictures[name], kinds, ("source", "last", "half"))
    os.remove(source)
    start_again(bin_folder)
    check("the source stays gone", not os.path.exists(source))
    check("the complete copy kept beside the program", leftovers(bin_folder) == ["shrink (1).png"] and
          read(os.path.join(bin_folder, "shrink (1).png")) == expected[name])


def only_whole_image(exe, pictures, expected):
    """Every kept name taken: the copy stays at the temporary path through further runs, which
    clean nothing over it, until a name is free."""
    name = "shrink.png"
    kinds = count_events(exe, {name: pictures[name]})
    print("== the only whole image at the temporary path, every kept name taken")
    bin_folder, _ = killed_in_file(exe, name, pictures[name], kinds, ("source", "last", "half"))
    with open(os.path.join(SOURCES, name), "ab") as f:
        f.write(b"a newer save")
    taken = [f"shrink ({n}).png" for n in range(1, 10000)] + [f"kept ({n}).png" for n in range(1, 10000)]
    for kept in taken:
        open(os.path.join(bin_folder, kept), "wb").close()
    temp = os.path.join(bin_folder, hostile.TEMP_NAME)
    start_again(bin_folder)
    check("the copy stays whole at the temporary path", read(temp) == expected[name])
    other = os.path.join(WORK, "other")
    put_sources(other, {"next.png": pictures[name]})
    start_again(bin_folder, other)
    check("a second brinq.exe cleans nothing through it", read(temp) == expected[name] and
          read(os.path.join(other, "next.png")) == pictures[name])
    os.remove(os.path.join(bin_folder, "shrink (5000).png"))
    start_again(bin_folder, other)
    check("once a name is free the copy goes there", read(os.path.join(bin_folder, "shrink (5000).png")) ==
          expected[name] and not os.path.exists(temp) and not os.path.exists(os.path.join(bin_folder, hostile.JOURNAL_NAME)))
    check("and the next file is cleaned", read(os.path.join(other, "next.png")) == expected[name])
    shutil.rmtree(bin_folder)


def campaign_pictures(rng):
    """About 60 MB of large pictures, most with something to drop."""
    shapes = [(jpeg_exif_first, 12), (jpeg_jfif_first, 8), (png_dropped, 6), (psd_mixed, 2), (png_plain, 2)]
    pictures = {}
    for make, count in shapes:
        for i in range(count):
            extension = {"jpeg": ".jpg", "png": ".png", "psd": ".psd"}[make.__name__.split("_")[0]]
            pictures[f"{make.__name__}_{i:02d}{extension}"] = make(rng, rng.randrange(1000000, 3000000))
    return pictures


def campaign(exe, reduce_tool, rng, rounds):
    pictures = campaign_pictures(rng)
    expected = hostile.expected_results(reduce_tool, WORK, pictures)
    kinds = count_events(exe, pictures)
    print(f"== campaign: {rounds} batches of {len(pictures)} pictures "
          f"({sum(map(len, pictures.values())) // 1000000} MB), {len(kinds)} events a batch")
    counts = {"rounds": rounds, "kills": 0, "files": 0, "damaged": 0, "times lost": 0, "left beside": 0}
    bin_folder = fresh_bin("bin", exe)
    for r in range(rounds):
        at, how = rng.randrange(1, len(kinds) + 1), rng.choice(["before", "half", "after"])
        put_sources(SOURCES, pictures)
        code = run(os.path.join(bin_folder, "brinq.exe"), [SOURCES], kill=(KINDS, at, how))
        counts["kills"] += code == -9
        run(os.path.join(bin_folder, "brinq.exe"), [SOURCES])
        for name in sorted(pictures):
            path = os.path.join(SOURCES, name)
            counts["files"] += 1
            if read(path) != expected[name]:
                counts["damaged"] += 1
                print(f"round {r} (killed at event {at}, {kinds[at - 1]}, {how}): damaged: {name}")
            elif not dated(path):
                counts["times lost"] += 1
        left = leftovers(bin_folder)
        counts["left beside"] += len(left)
        for extra in left:
            print(f"round {r}: left beside the program: {extra}")
            os.remove(os.path.join(bin_folder, extra))
    print(", ".join(f"{k}: {v}" for k, v in counts.items()))
    check("no picture damaged, every time kept, nothing left",
          counts["damaged"] == counts["times lost"] == counts["left beside"] == 0)
    check("every round's first run was killed", counts["kills"] == rounds)


def main():
    global WORK, SOURCES, PRELOAD
    parser = hostile.argument_parser()
    parser.add_argument("--rounds", type=int, default=50)
    parser.add_argument("--seed", type=int, default=14)
    parser.add_argument("--only", choices=["steps", "campaign"])
    args = parser.parse_args()
    WORK = os.path.abspath(args.work)
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    SOURCES = os.path.join(WORK, "sources")
    PRELOAD = os.path.join(WORK, "kill_at.so")
    here = os.path.dirname(os.path.abspath(__file__))
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", PRELOAD, os.path.join(here, "kill_at.c"), "-ldl"],
                   check=True)
    rng = random.Random(args.seed)
    if args.only != "campaign":
        pictures, expected = steps(args.exe, args.reduce, rng)
        copy_fails_its_check(args.exe, pictures, expected)
        source_changed_or_gone(args.exe, pictures, expected)
        only_whole_image(args.exe, pictures, expected)
    if args.only != "steps":
        campaign(args.exe, args.reduce, rng, args.rounds)
    print(f"{len(failures)} failed" if failures else "all passed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
