#!/usr/bin/env python3
"""brinq.exe killed (SIGKILL, as by Task Manager, a logoff or a crash) at each step of a
replacement, again while the next start finishes it, and at random instants of batches of large
images, then started again. Every source must end as it was or as its complete reduced copy (as
reduce_file computes it natively), with its last-write time; nothing may be left beside the
program, but a copy that waits for its source with its record where a test asks for one: a source
held by another program, saved anew or gone, or another memory card in the drive.

    killed.py --exe brinq.exe --reduce reduce_file --work FOLDER [--rounds N] [--seed S] [--only steps|campaign]
"""
import os
import random
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import hostile  # noqa: E402
import images  # noqa: E402
from pictures import jpeg_exif_first, jpeg_jfif_first, png_dropped, png_plain, psd_mixed, read, write  # noqa: E402

SAVED = (1009972800, 1009972800)  # 2002-01-02 12:00 UTC, as the sources' last-write time
KINDS = "source,temp,flush,times,waiting"
WAITING = "xtmp_7x91x4vnq.p001"

failures = []


def check(what, ok):
    print(("ok:     " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def run(exe, args, kill=None, profile=None):
    """brinq.exe on Windows paths; with kill = (events, at, how), killed by the preload there; with
    `profile`, that folder is the user's local profile, where the key is kept."""
    env = dict(os.environ)
    if kill:
        events, at, how = kill
        env.update(LD_PRELOAD=PRELOAD, KILL_SOURCES=SOURCES, KILL_EVENTS=events, KILL_AT=str(at), KILL_HOW=how)
    command = ["wine", exe] + [hostile.windows_path(a) for a in args]
    if profile:
        command = ["wine", "cmd", "/c", f"set LOCALAPPDATA={hostile.windows_path(profile)}&& " +
                   " ".join([hostile.windows_path(exe)] + command[2:])]
    try:
        return subprocess.run(command, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=300).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def count_events(exe, sources, files=False):
    """The kinds of the events, in order, that a whole run over `sources` (name -> bytes) meets;
    with `files`, each with the file it touched."""
    bin_folder = fresh_bin("count-bin", exe)
    put_sources(SOURCES, sources)
    note = os.path.join(WORK, "count.note")
    env = dict(os.environ, LD_PRELOAD=PRELOAD, KILL_SOURCES=SOURCES, KILL_EVENTS=KINDS, KILL_AT="0", KILL_NOTE=note)
    subprocess.run(["wine", os.path.join(bin_folder, "brinq.exe"), hostile.windows_path(SOURCES)], env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    with open(note, "a+") as f:
        f.seek(0)
        kinds = [" ".join(line.split()[1::3]) if files else line.split()[1] for line in f]
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
    ("while the record after it is written", "temp", "last but one", "half", "original"),
    ("before the copy and its record are flushed", "flush", "first", "before", "copy"),
    ("in the middle of the first write into the source", "source", "first", "half", "copy"),
    ("in the middle of the write over the source", "source", "last", "half", "copy"),
    ("between that write and the cut of the old tail", "source", "last", "after", "copy"),
    ("before the times are put back", "times", "first", "before", "copy"),
    ("once the source is flushed, before its record is wiped", "flush", "last", "after", "copy"),
]
# What reaches the disk in which order: the copy and its record before the source is touched,
# the source before its record is wiped.
DURABLE_ORDER = ["temp temp", "flush temp", "source source", "times source", "flush source", "temp temp"]


def event_number(kinds, kind, which):
    """The first, last or last but one event of `kind`, counted among the events of that kind alone."""
    return {"first": 1, "last": kinds.count(kind), "last but one": kinds.count(kind) - 1}[which]


def killed_in_file(exe, name, data, kinds, kill_step):
    """One file cleaned by a brinq.exe killed at `kill_step` = (kind, which, how); the folders."""
    kind, which, how = kill_step
    bin_folder = fresh_bin("bin", exe)
    put_sources(SOURCES, {name: data})
    code = run(os.path.join(bin_folder, "brinq.exe"), [os.path.join(SOURCES, name)],
               kill=(kind, event_number(kinds, kind, which), how))
    return bin_folder, code


def start_again(bin_folder, *args, kill=None, profile=None):
    empty = os.path.join(WORK, "empty")
    os.makedirs(empty, exist_ok=True)
    return run(os.path.join(bin_folder, "brinq.exe"), list(args) or [empty], kill, profile)


def collapsed(events):
    return [e for i, e in enumerate(events) if i == 0 or events[i - 1] != e]


def steps(exe, reduce_tool, rng):
    pictures = step_images(rng)
    expected = hostile.expected_results(reduce_tool, WORK, pictures)
    for name, data in pictures.items():
        kinds = count_events(exe, {name: data})
        print(f"== {name}: {len(data)} bytes, copy {len(expected[name])}; events {' '.join(kinds)}")
        check(f"{name}: written and flushed in the order that no power cut can break",
              collapsed(count_events(exe, {name: data}, files=True)) == DURABLE_ORDER)
        for label, kind, which, how, ends in STEPS:
            bin_folder, code = killed_in_file(exe, name, data, kinds, (kind, which, how))
            source = os.path.join(SOURCES, name)
            check(f"{name}: killed {label}", code == -9)
            if ends == "copy":
                code = start_again(bin_folder, kill=(KINDS, 1, "half"))
                check(f"{name}: the next start killed in its first write too", code == -9)
            code = start_again(bin_folder)
            want = data if ends == "original" else expected[name]
            check(f"{name}: after the next start, the source is the {ends}", read(source) == want)
            check(f"{name}: its last-write time kept", dated(source))
            check(f"{name}: nothing left beside the program, the next start ended normally",
                  leftovers(bin_folder) == [] and code == 0)
    return pictures, expected


def group_cut_anywhere(exe, reduce_tool, rng):
    """A group of small files, whose copies and records share one flush of the temporary file,
    killed at each of its events, before, in the middle of and after it: every source ends as it
    was or as its copy once the next start has finished what the cut left, and a later run
    cleans the rest and leaves nothing."""
    pictures = {"a.png": png_dropped(rng, 30000), "b.jpg": jpeg_exif_first(rng, 40000),
                "c.png": png_dropped(rng, 20000), "d.png": png_plain(rng, 20000)}
    expected = hostile.expected_results(reduce_tool, WORK, pictures)
    events = count_events(exe, pictures, files=True)
    print(f"== a group of {len(pictures)} files: events {'  '.join(events)}")
    last_source_flush = max(i for i, e in enumerate(events) if e == "flush source")
    check("the group on the disk before any source, every source on the disk before its records go",
          events.index("flush temp") < events.index("source source") and last_source_flush < len(events) - 1 and
          events[-1] == "temp temp")
    damaged = []
    for at, event in enumerate(events, 1):
        for how in ("before", "half", "after") if event.split()[0] in ("temp", "source") else ("before", "after"):
            bin_folder = fresh_bin("bin", exe)
            put_sources(SOURCES, pictures)
            run(os.path.join(bin_folder, "brinq.exe"), [SOURCES], kill=(KINDS, at, how))
            start_again(bin_folder)
            whole = all(read(os.path.join(SOURCES, n)) in (pictures[n], expected[n]) for n in pictures)
            start_again(bin_folder, SOURCES)
            if not whole or leftovers(bin_folder) or any(read(os.path.join(SOURCES, n)) != expected[n] or
                                                         not dated(os.path.join(SOURCES, n)) for n in pictures):
                damaged.append(f"{at} {event} {how}")
    check(f"killed at each event: every source whole, then cleaned, nothing left{': ' if damaged else ''}"
          f"{', '.join(damaged)}", not damaged)


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
    check("the complete copy waits beside the program", leftovers(bin_folder) == ["shrink (1).png", WAITING] and
          read(os.path.join(bin_folder, "shrink (1).png")) == expected[name])
    print("== the source is removed after the kill")
    bin_folder, _ = killed_in_file(exe, name, pictures[name], kinds, ("source", "last", "half"))
    os.remove(source)
    start_again(bin_folder)
    check("the source stays gone", not os.path.exists(source))
    check("the complete copy waits beside the program", leftovers(bin_folder) == ["shrink (1).png", WAITING] and
          read(os.path.join(bin_folder, "shrink (1).png")) == expected[name])
    os.remove(os.path.join(bin_folder, "shrink (1).png"))
    start_again(bin_folder)
    check("once its copy is deleted, its record goes", leftovers(bin_folder) == [])


def only_whole_image(exe, pictures, expected):
    """Every kept name taken: the copy stays at the temporary path through further runs, which
    clean through the user's own folder meanwhile, until a name is free."""
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
    check("the copy stays whole at the temporary path, its record after it", read(temp).startswith(expected[name]))
    other = os.path.join(WORK, "other")
    put_sources(other, {"next.png": pictures[name]})
    start_again(bin_folder, other)
    check("a second brinq.exe cleans through the user's own folder, not over it",
          read(temp).startswith(expected[name]) and read(os.path.join(other, "next.png")) == expected[name])
    os.remove(os.path.join(bin_folder, "shrink (5000).png"))
    start_again(bin_folder)
    check("once a name is free the copy waits there", read(os.path.join(bin_folder, "shrink (5000).png")) ==
          expected[name] and not os.path.exists(temp) and os.path.exists(os.path.join(bin_folder, WAITING)))
    shutil.rmtree(bin_folder)


def waits_then_finishes(bin_folder, source, data, kept, expected, while_waiting, when_free):
    """The next start leaves `source` as `data` and its copy waiting as `kept`; once when_free()
    has run, the start after finishes it and leaves nothing."""
    while_waiting()
    start_again(bin_folder)
    check("the file at the source's path untouched", read(source) == data)
    check("the copy waits beside the program with its record",
          leftovers(bin_folder) == [kept, WAITING] and read(os.path.join(bin_folder, kept)) == expected)
    when_free()
    start_again(bin_folder)
    check("once the source is free, the next start finishes it and leaves nothing",
          read(source) == expected and dated(source) and leftovers(bin_folder) == [])


def held_at_next_start(exe, pictures, expected):
    """The next start finds the source held by another program, a viewer, and waits for it."""
    name = "grow.jpg"
    kinds = count_events(exe, {name: pictures[name]})
    print("== the source is held by another program at the next start")
    bin_folder, _ = killed_in_file(exe, name, pictures[name], kinds, ("source", "first", "before"))
    source = os.path.join(SOURCES, name)
    holding = []
    waits_then_finishes(bin_folder, source, pictures[name], "grow (1).jpg", expected[name],
                        lambda: holding.append(hold(source)), lambda: holding.pop()())


def another_card(exe, pictures, expected):
    """Another memory card in the same drive: the same folder, file name and file number, and a
    size between the source's and its copy's, but another photo. It is never written over."""
    name, card = "DSC_0001.JPG", os.path.join(SOURCES, "DCIM")
    data = pictures["grow.jpg"]
    other = random.Random(7).randbytes(len(data) + 4)
    def insert(photo):
        subprocess.run(["umount", card], stderr=subprocess.DEVNULL)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", card], check=True)
        write(os.path.join(card, name), photo)
        os.utime(os.path.join(card, name), SAVED)
        return os.stat(os.path.join(card, name)).st_ino
    print("== another memory card in the drive at the next start")
    put_sources(SOURCES, {})
    os.makedirs(card)
    first = insert(data)
    bin_folder = fresh_bin("bin", exe)
    code = run(os.path.join(bin_folder, "brinq.exe"), [os.path.join(card, name)], kill=("source", 1, "before"))
    check("killed at its first write over the photo", code == -9)
    second = []
    waits_then_finishes(bin_folder, os.path.join(card, name), other, "DSC_0001 (1).JPG", expected["grow.jpg"],
                        lambda: second.append(insert(other)), lambda: insert(data))
    check("both cards gave their photo the same file number", second == [first])
    subprocess.run(["umount", card])


def hold(path, alone=False):
    """Another program holding `path` open until the returned function is called."""
    ready, stop = path + ".ready", path + ".stop"
    holder = subprocess.Popen(["wine", HOLD_FILE] + [hostile.windows_path(p) for p in (path, ready, stop)] +
                              (["alone"] if alone else []),
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(ready):
            break
        time.sleep(0.05)

    def let_go():
        open(stop, "w").close()
        holder.wait(timeout=60)
        os.remove(ready)
        os.remove(stop)
    return let_go


def without_key(exe, pictures, expected):
    """No key to seal a record with: its file damaged, held by another program, or a profile that
    refuses it. A run killed at its first write over a source leaves it whole, or one that the next
    start finishes; no source is written that a record could not prove."""
    name = "shrink.png"
    source = os.path.join(SOURCES, name)
    profile = os.path.join(WORK, "profile")
    key_folder = os.path.join(profile, "Brindlequist")
    key = os.path.join(key_folder, "brinq.key")

    def damaged():
        os.makedirs(key_folder)
        write(key, b"0123456789")
        return lambda: None

    def held():
        bin_folder = fresh_bin("key-bin", exe)
        put_sources(SOURCES, {name: pictures[name]})
        start_again(bin_folder, source, profile=profile)
        return hold(key, alone=True)

    def refused():
        os.makedirs(key_folder)
        subprocess.run(["chattr", "+i", key_folder], check=True)
        return lambda: subprocess.run(["chattr", "-i", key_folder], check=True)

    for label, no_key in (("damaged", damaged), ("held by another program", held), ("refused", refused)):
        print(f"== the key {label}")
        shutil.rmtree(profile, ignore_errors=True)
        os.makedirs(profile)
        let_go = no_key()
        bin_folder = fresh_bin("bin", exe)
        put_sources(SOURCES, {name: pictures[name]})
        code = run(os.path.join(bin_folder, "brinq.exe"), [source], kill=("source", 1, "half"), profile=profile)
        if label == "damaged":
            aside = os.path.join(key_folder, "brinq.key.1.damaged")
            check("a new key made, the damaged one set aside",
                  os.path.exists(aside) and read(aside) == b"0123456789")
            start_again(bin_folder, profile=profile)
        else:
            check("without a key the run ends normally and leaves the source whole",
                  code == 0 and read(source) == pictures[name] and leftovers(bin_folder) == [])
        let_go()
        start_again(bin_folder, source, profile=profile)
        check("a later run cleans it, and leaves nothing", read(source) == expected[name] and dated(source) and
              leftovers(bin_folder) == [])


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
    global WORK, SOURCES, PRELOAD, HOLD_FILE
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
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", PRELOAD, os.path.join(here, "kill_at.c"), "-ldl", "-pthread"],
                   check=True)
    HOLD_FILE = os.path.join(WORK, "hold_file.exe")
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-o", HOLD_FILE, os.path.join(here, "hold_file.c")], check=True)
    rng = random.Random(args.seed)
    if args.only != "campaign":
        pictures, expected = steps(args.exe, args.reduce, rng)
        group_cut_anywhere(args.exe, args.reduce, rng)
        copy_fails_its_check(args.exe, pictures, expected)
        source_changed_or_gone(args.exe, pictures, expected)
        only_whole_image(args.exe, pictures, expected)
        held_at_next_start(args.exe, pictures, expected)
        another_card(args.exe, pictures, expected)
        without_key(args.exe, pictures, expected)
    if args.only != "steps":
        campaign(args.exe, args.reduce, rng, args.rounds)
    print(f"{len(failures)} failed" if failures else "all passed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
