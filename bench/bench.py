"""Times brinq.exe against cp -r, the floor (bench/floor.cpp) plain, flushed and lean, jhead -purejpg
and exiftool on the corpus and on its part of small JPEGs, every tool on the whole of each part it
is compared on; then brinq.exe and the plain and lean floors on a disk whose flushes take time;
with --profile, where brinq.exe's time on the JPEG part goes beyond the floor. Expects Wine's
prefix to be warm and floor.exe and slowflush.so built (bench/run.sh does all three). A
benchmark: it measures and prints, asserts nothing. BENCH_EXE names the brinq.exe to time
(build/windows/brinq.exe by default); BENCH_BEFORE_EXE another one, timed beside it as "brinq.exe
(before)"; BENCH_FLUSH_ONLY=1 runs only the part whose flushes take time."""
import collections
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import time

import corpus

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SCRATCH = os.path.join(ROOT, "build", "bench")
# Each brinq.exe runs from a copy in a folder of its own: it keeps its temporary files beside
# itself, and a rebuild during the run leaves the copy alone.
BRINQ_BUILT = os.environ.get("BENCH_EXE") or os.path.join(ROOT, "build", "windows", "brinq.exe")
BRINQ = os.path.join(SCRATCH, "brinq", "brinq.exe")
BEFORE_BUILT = os.environ.get("BENCH_BEFORE_EXE")
BEFORE = os.path.join(SCRATCH, "before", "brinq.exe")
FLOOR = os.path.join(SCRATCH, "floor.exe")
CORPUS = os.path.join(SCRATCH, "corpus")
WORK = os.path.join(SCRATCH, "work")
PARTS = ("jpeg", "png", "psd")  # the large files: "the corpus" in the tables
SMALL = "small"  # 2,000 JPEGs of about 20 KB
MIXED = "mixed"  # 500 JPEGs of 19 to 55 KB, every fifth already clean
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "9"))
# exiftool takes the whole of every part, in fewer rounds (spread over the run): it is slow.
EXIFTOOL_ROUNDS = min(ROUNDS, int(os.environ.get("BENCH_EXIFTOOL_ROUNDS", "3")))
FLUSH_ONLY = os.environ.get("BENCH_FLUSH_ONLY") == "1"
FLUSH_ROUNDS = min(ROUNDS, int(os.environ.get("BENCH_FLUSH_ROUNDS", "3")))
# Preloaded into the wine command of the runs whose flushes take time: each fsync and fdatasync
# waits first, and is counted.
SLOWFLUSH = os.path.join(SCRATCH, "slowflush.so")
FLUSH_COUNTS = os.path.join(SCRATCH, "flushes")
# What runs back to back on each part: its name in the tables, program and switches. The flushed
# floor is the honest comparison for a program that flushes its copy and its source to disk; the
# lean one the least such a program can do.
BACK_TO_BACK = {"floor": ("floor.exe", FLOOR, []), "flushed": ("floor.exe -f", FLOOR, ["-f"]),
                "lean": ("floor.exe -l", FLOOR, ["-l"]), "brinq": ("brinq.exe", BRINQ, [])}
if BEFORE_BUILT:
    BACK_TO_BACK["before"] = ("brinq.exe (before)", BEFORE, [])
# The last line's medians of the rounds' own ratios, each on the corpus and the small part: name,
# tool, the tool it is over, whether its range is given.
OWN_RATIOS = [("brinq_vs_floor_flushed", "brinq", "flushed", True), ("brinq_vs_floor_lean", "brinq", "lean", True)]
if BEFORE_BUILT:
    OWN_RATIOS += [("before_vs_floor_lean", "before", "lean", True), ("brinq_vs_before", "brinq", "before", False)]
# The runs whose flushes take as long as a real disk's (this machine's answers in 0.1-0.2 ms):
# 2 ms stands for a consumer SSD, 20 ms for a USB stick or a memory card. Each: its keys' infix,
# the part and how many of its files (the first by name, all if None), the wait before each flush
# in microseconds.
LATENCY_SETS = [("2ms_small", MIXED, 500, 2000), ("2ms", "jpeg", None, 2000), ("20ms_small", MIXED, 200, 20000)]
# The waits overlap, as on a drive that queues flushes (NVMe), or take turns, as on one that does
# one at a time (SATA, memory cards): so that overlapping flushes is never the only way a figure
# is met. Each: its keys' prefix, FLUSH_SERIAL, its name in the table.
WAITS = [("flush", "0", "overlapping"), ("serial", "1", "one by one")]
LATENCY_TOOLS = ["floor", "lean", "brinq"] + (["before"] if BEFORE_BUILT else [])
# Each latency set's and wait's ratios, as the median of the rounds' own with their range.
LATENCY_RATIOS = [("brinq_vs_floor", "brinq", "floor"), ("brinq_vs_floor_lean", "brinq", "lean")]
if BEFORE_BUILT:
    LATENCY_RATIOS += [("before_vs_floor", "before", "floor"), ("before_vs_floor_lean", "before", "lean"),
                       ("brinq_vs_before", "brinq", "before")]
# The brinq.exe builds' flushes over the files each replaced, in every latency run.
FLUSHES_PER_FILE = [("flushes_per_replaced_file", "brinq")] + (
    [("before_flushes_per_replaced_file", "before")] if BEFORE_BUILT else [])


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def files_of(folder):
    return sorted(os.path.join(folder, f) for f in os.listdir(folder))


def size_of(paths):
    return sum(os.path.getsize(p) for p in paths)


def quiet(command, env=None):
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, env=env)


def fresh_copy(paths_by_part):
    """Copies the given files to WORK/<part>/ and flushes them to disk, outside any timing."""
    shutil.rmtree(WORK, ignore_errors=True)
    for part, paths in paths_by_part.items():
        os.makedirs(os.path.join(WORK, part))
        for p in paths:
            shutil.copy2(p, os.path.join(WORK, part))
    os.sync()


def timed(command, env=None):
    start = time.perf_counter()
    quiet(command, env)
    return time.perf_counter() - start


def removed_bytes(before, parts):
    return before - size_of(p for part in parts for p in files_of(os.path.join(WORK, part)))


def copy_programs():
    for built, copy in ((BRINQ_BUILT, BRINQ), (BEFORE_BUILT, BEFORE)):
        if built:
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copy2(built, copy)


def ensure_corpus():
    stamp = os.path.join(CORPUS, ".complete-" + corpus.VERSION)
    if os.path.exists(stamp):
        print("corpus: reusing %s" % CORPUS)
        return
    shutil.rmtree(CORPUS, ignore_errors=True)
    start = time.perf_counter()
    corpus.build(CORPUS)
    open(stamp, "w").close()
    print("corpus: built in %.0f s" % (time.perf_counter() - start))


def wine_runs(exe, folders, switches=(), env=None):
    """One run per folder, so that each part has its own time."""
    return {part: timed(["wine", exe] + list(switches) + [windows_path(os.path.join(WORK, part))], env)
            for part in folders}


def exiftool_runs(folders):
    return {part: timed(["exiftool", "-q", "-q", "-all=", "-overwrite_original", os.path.join(WORK, part)])
            for part in folders}


def max_rss_kb(args):
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "wine", BRINQ] + args,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    return int(result.stderr.strip().splitlines()[-1])


def exiftool_round(r):
    return r * EXIFTOOL_ROUNDS % ROUNDS < EXIFTOOL_ROUNDS


def in_turn(r, tools):
    """Round r's order: each tool goes first in turn."""
    return tools[r % len(tools):] + tools[:r % len(tools)]


def back_to_back(r, part, paths, times):
    """brinq.exe and the floors on the same part in the same minute, so that the machine's drift
    (large on a shared virtual machine) meets them alike; they take turns going first. Returns the
    bytes each brinq.exe removed."""
    removed = {}
    for tool in in_turn(r, list(BACK_TO_BACK)):
        fresh_copy({part: paths})
        _, exe, switches = BACK_TO_BACK[tool]
        times[tool + "_" + part].append(wine_runs(exe, [part], switches)[part])
        if exe != FLOOR:
            removed[tool] = removed_bytes(size_of(paths), [part])
    return removed


def main():
    copy_programs()
    ensure_corpus()
    everything = {part: files_of(os.path.join(CORPUS, part)) for part in PARTS}
    small = files_of(os.path.join(CORPUS, SMALL))
    mb = {part: size_of(paths) / 1e6 for part, paths in everything.items()}
    largest = max(os.path.getsize(p) for paths in everything.values() for p in paths)
    print("corpus: %d files, %.1f MB (JPEG %.1f, PNG %.1f, PSD %.1f MB), largest file %.2f MB;"
          " small part: %d JPEGs, %.1f MB" % (sum(len(p) for p in everything.values()), sum(mb.values()),
                                              mb["jpeg"], mb["png"], mb["psd"], largest / 1e6, len(small),
                                              size_of(small) / 1e6))

    # Warm-up: Wine's own files and brinq.exe's pages in the cache.
    fresh_copy({"jpeg": everything["jpeg"][:1]})
    for exe in dict.fromkeys(exe for _, exe, _ in BACK_TO_BACK.values()):
        wine_runs(exe, ["jpeg"])
    last_line = [] if FLUSH_ONLY else [whole_run(everything, small, largest)]
    last_line.append(latency_run())
    shutil.rmtree(WORK, ignore_errors=True)
    print(" ".join(last_line))


def whole_run(everything, small, largest):
    """Every tool on every part; prints the tables and returns the ratios of the last line."""
    times, removed = measure(everything, small)
    median = {k: statistics.median(v) for k, v in times.items()}
    report(everything, small, median, times, removed)

    # Peak memory: one brinq.exe over the whole corpus, against one that finds nothing to do.
    fresh_copy(everything)
    peak = max_rss_kb([windows_path(os.path.join(WORK, part)) for part in PARTS])
    idle = max_rss_kb([windows_path(os.path.join(SCRATCH, "no-such-folder"))])
    print("peak memory of brinq.exe on the corpus: %.1f MB max RSS (%.1f MB for a run with no file;"
          " largest file %.2f MB)" % (peak / 1024, idle / 1024, largest / 1e6))
    return ratios(median, times)


def measure(everything, small):
    """Each round's times of every tool, and the bytes each removed."""
    total = sum(size_of(paths) for paths in everything.values())
    jpeg_bytes, small_bytes = size_of(everything["jpeg"]), size_of(small)
    times = {k: [] for k in ["cp", "jhead", "exiftool", "jhead_small"] + list(BACK_TO_BACK) +
             [tool + "_" + part for tool in list(BACK_TO_BACK) + ["exiftool"] for part in PARTS + (SMALL,)]}
    removed = {}
    for r in range(ROUNDS):
        # The I/O floor: the same bytes copied once.
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        os.sync()
        times["cp"].append(timed(["cp", "-r"] + [os.path.join(CORPUS, part) for part in PARTS] + [WORK]))

        by_part = [back_to_back(r, part, everything[part], times) for part in PARTS]
        removed.update({tool: sum(gone[tool] for gone in by_part) for tool in by_part[0]})
        for tool in BACK_TO_BACK:
            times[tool].append(sum(times[tool + "_" + part][-1] for part in PARTS))
        removed.update({tool + "_small": gone for tool, gone in back_to_back(r, SMALL, small, times).items()})

        fresh_copy({"jpeg": everything["jpeg"], SMALL: small})
        times["jhead"].append(timed(["jhead", "-purejpg"] + files_of(os.path.join(WORK, "jpeg"))))
        times["jhead_small"].append(timed(["jhead", "-purejpg"] + files_of(os.path.join(WORK, SMALL))))
        removed["jhead"] = removed_bytes(jpeg_bytes, ["jpeg"])
        removed["jhead_small"] = removed_bytes(small_bytes, [SMALL])

        shown = ["cp"] + list(BACK_TO_BACK) + ["jhead"] + [tool + "_small" for tool in BACK_TO_BACK] + ["jhead_small"]
        if exiftool_round(r):
            fresh_copy(dict(everything, **{SMALL: small}))
            add_runs(times, "exiftool", exiftool_runs(PARTS))
            times["exiftool_small"] += exiftool_runs([SMALL]).values()
            removed["exiftool"] = removed_bytes(total, PARTS)
            removed["exiftool_small"] = removed_bytes(small_bytes, [SMALL])
            shown += ["exiftool", "exiftool_small"]
        print("round %d: %s" % (r + 1, "  ".join("%s %.2fs" % (k, times[k][-1]) for k in shown)), flush=True)
    return times, removed


def report(everything, small, median, times, removed):
    bytes_all = {part: size_of(paths) for part, paths in everything.items()}
    total, jpeg_bytes, small_bytes = sum(bytes_all.values()), bytes_all["jpeg"], size_of(small)
    rows = [("cp -r", "corpus", total, median["cp"], "-")] + [
        (exe, "corpus", total, median[tool], removed.get(tool, "-")) for tool, exe in labels()] + [
        ("  " + exe, part.upper() + " part", bytes_all[part], median[tool + "_" + part], "-")
        for part in PARTS for tool, exe in labels()] + [
        ("jhead -purejpg", "JPEG part", jpeg_bytes, median["jhead"], removed["jhead"]),
        ("exiftool -all=", "corpus", total, median["exiftool"], removed["exiftool"]),
    ] + [("  exiftool -all=", part.upper() + " part", bytes_all[part], median["exiftool_" + part], "-")
         for part in PARTS]
    print()
    print("medians of %d rounds (exiftool: %d rounds), each tool on a fresh copy (page cache warm, copies"
          " synced first)" % (ROUNDS, EXIFTOOL_ROUNDS))
    print("%-20s %-12s %10s %10s %10s %14s" % ("tool", "files", "MB", "median s", "MB/s", "bytes removed"))
    for tool, files, size, seconds, gone in rows:
        print("%-20s %-12s %10.1f %10.3f %10.1f %14s" % (tool, files, size / 1e6, seconds, size / 1e6 / seconds, gone))
    print()
    bases = [b for b in BACK_TO_BACK if b != "brinq"] + ["exiftool"]
    print("%-6s %10s" % ("part", "brinq s") + "".join(" %11s" % (b + " s") for b in bases) +
          "".join(" %15s" % ("brinq/" + b) for b in bases))
    for part in PARTS + (SMALL,):
        brinq, against = median["brinq_" + part], [median[b + "_" + part] for b in bases]
        print("%-6s %10.3f" % (part.upper(), brinq) + "".join(" %11.3f" % t for t in against) +
              "".join(" %15.3f" % (brinq / t) for t in against))
    for tool, base in [("brinq", "floor")] + [(tool, base) for _, tool, base, _ in OWN_RATIOS]:
        print("%s/%s, median of each round's own ratio: " % (tool, base) + "  ".join(
            "%s %.3f" % (part.upper(), statistics.median(own_ratios(times, tool + "_" + part, base + "_" + part)))
            for part in PARTS + (SMALL,)))

    print()
    print("small part: %d JPEGs of %.1f KB on average, %.1f MB, each tool on the whole part" % (
        len(small), small_bytes / len(small) / 1e3, small_bytes / 1e6))
    print("%-20s %10s %10s %14s" % ("tool", "median s", "ms/file", "bytes removed"))
    for tool, key, gone in [(exe, tool + "_small", removed.get(tool + "_small", "-")) for tool, exe in labels()] + [
            ("jhead -purejpg", "jhead_small", removed["jhead_small"]),
            ("exiftool -all=", "exiftool_small", removed["exiftool_small"])]:
        print("%-20s %10.3f %10.2f %14s" % (tool, median[key], median[key] * 1000 / len(small), gone))


def labels():
    """Each back-to-back tool's key and its name in the tables."""
    return [(tool, exe) for tool, (exe, _, _) in BACK_TO_BACK.items()]


def own_ratios(times, key, base):
    """Each round's own ratio of key's time over base's: both ran in the same minute on the same
    machine state, so it is steadier than the ratio of the medians."""
    return [k / b for k, b in zip(times[key], times[base])]


def median_and_range(name, ratios, with_range=True):
    return "%s=%.3f" % (name, statistics.median(ratios)) + (
        " %s_range=%.3f..%.3f" % (name, min(ratios), max(ratios)) if with_range else "")


def ratios(median, times):
    """The last line: the ratios of the median times, then the medians of the rounds' own ratios
    (OWN_RATIOS) on the corpus and on the small part."""
    return ("brinq_vs_cp=%.2f brinq_vs_jhead=%.2f brinq_vs_exiftool=%.3f brinq_vs_floor=%.3f"
          " brinq_vs_floor_jpeg=%.3f small_brinq_vs_floor=%.3f small_brinq_vs_exiftool=%.3f"
          " small_brinq_vs_jhead=%.2f" % (
              median["brinq"] / median["cp"], median["brinq_jpeg"] / median["jhead"],
              median["brinq"] / median["exiftool"], median["brinq"] / median["floor"],
              median["brinq_jpeg"] / median["floor_jpeg"], median["brinq_small"] / median["floor_small"],
              median["brinq_small"] / median["exiftool_small"], median["brinq_small"] / median["jhead_small"]) +
            "".join(" " + median_and_range(name, own_ratios(times, tool, base), with_range) +
                    " " + median_and_range("small_" + name, own_ratios(times, tool + "_small", base + "_small"), with_range)
                    for name, tool, base, with_range in OWN_RATIOS))


def add_runs(times, tool, runs):
    for part, seconds in runs.items():
        times[tool + "_" + part].append(seconds)
    times[tool].append(sum(runs.values()))


def latency_run():
    """brinq.exe and the floors where each flush takes time; prints the rounds and a table, and
    returns the last line's keys of these runs."""
    paths = {infix: files_of(os.path.join(CORPUS, part))[:count] for infix, part, count, _ in LATENCY_SETS}
    seconds, flushes, changed = measure_latency(paths)
    report_latency(paths, seconds, flushes, changed)
    return latency_ratios(seconds, flushes, changed)


def latency_key(prefix, infix, tool):
    return prefix + infix + "_" + tool


def measure_latency(paths):
    """Each round's seconds and flushes of every tool under each latency set and wait, and the
    files each brinq.exe replaced, by latency_key."""
    seconds, flushes, changed = (collections.defaultdict(list) for _ in range(3))
    for r in range(FLUSH_ROUNDS):
        for infix, part, _, us in LATENCY_SETS:
            for prefix, serial, _ in WAITS:
                for tool in in_turn(r, LATENCY_TOOLS):
                    key = latency_key(prefix, infix, tool)
                    fresh_copy({part: paths[infix]})
                    run_seconds, run_flushes = slowed_run(tool, part, us, serial)
                    seconds[key].append(run_seconds)
                    flushes[key].append(run_flushes)
                    if BACK_TO_BACK[tool][1] != FLOOR:
                        changed[key].append(changed_files(paths[infix], part))
        print("latency round %d: %s" % (r + 1, "  ".join("%s %.2fs" % (k, v[-1]) for k, v in seconds.items())),
              flush=True)
    return seconds, flushes, changed


def slowed_run(tool, part, us, serial):
    """Seconds and flushes of one run of tool on WORK/part, each flush waiting us microseconds."""
    open(FLUSH_COUNTS, "w").close()
    _, exe, switches = BACK_TO_BACK[tool]
    env = dict(os.environ, LD_PRELOAD=SLOWFLUSH, FLUSH_US=str(us), FLUSH_SERIAL=serial,
               FLUSH_COUNT_FILE=FLUSH_COUNTS)
    run_seconds = wine_runs(exe, [part], switches, env)[part]
    with open(FLUSH_COUNTS) as counts:
        return run_seconds, len(counts.readlines())


def changed_files(paths, part):
    """How many of the files copied to WORK/part no longer hold their original's bytes."""
    return sum(not filecmp.cmp(p, os.path.join(WORK, part, os.path.basename(p)), shallow=False) for p in paths)


def report_latency(paths, seconds, flushes, changed):
    print()
    print("each fsync and fdatasync of the program waits first (bench/slowflush.c), the waits overlapping"
          " or one by one; medians of %d rounds, each tool on a fresh copy" % FLUSH_ROUNDS)
    print("%-14s %6s %6s %-12s %-20s %9s %8s %8s" % ("files", "MB", "wait", "waits", "tool", "median s", "flushes",
                                                    "changed"))
    for infix, part, _, us in LATENCY_SETS:
        for prefix, _, waits in WAITS:
            for tool in LATENCY_TOOLS:
                key = latency_key(prefix, infix, tool)
                print("%-14s %6.1f %6s %-12s %-20s %9.3f %8.0f %8s" % (
                    "%d of %s" % (len(paths[infix]), part), size_of(paths[infix]) / 1e6, "%g ms" % (us / 1000), waits,
                    BACK_TO_BACK[tool][0], statistics.median(seconds[key]), statistics.median(flushes[key]),
                    "%.0f" % statistics.median(changed[key]) if changed[key] else "-"))


def latency_ratios(seconds, flushes, changed):
    """Each latency set's and wait's ratios (LATENCY_RATIOS), then each brinq.exe's flushes per
    file it replaced over all its latency runs."""
    runs = [(prefix, infix) for infix, _, _, _ in LATENCY_SETS for prefix, _, _ in WAITS]
    keys = [median_and_range(latency_key(prefix, infix, name), own_ratios(seconds, latency_key(prefix, infix, tool),
                                                                          latency_key(prefix, infix, base)))
            for prefix, infix in runs for name, tool, base in LATENCY_RATIOS]
    for name, tool in FLUSHES_PER_FILE:
        per_file = [f / c for prefix, infix in runs for f, c in zip(flushes[latency_key(prefix, infix, tool)],
                                                                   changed[latency_key(prefix, infix, tool)])]
        keys.append(median_and_range(name, per_file))
    return " ".join(keys)


# Each of the floor's switches adds one thing brinq.exe does besides (bench/floor.cpp).
PROFILE_STEPS = [
    ("floor", []),
    ("+ measure handle, attributes", ["-m"]),
    ("+ zeroed WorkBuffer", ["-w"]),
    ("+ a filter's pieces, streams", ["-s"]),
    ("+ CopyFileA, not in place", ["-c"]),
    ("in-place design: -m -w -s", ["-mws"]),
    ("today's I/O: -m -w -s -c", ["-mwsc"]),
]


def profile():
    copy_programs()
    ensure_corpus()
    jpegs = {"jpeg": files_of(os.path.join(CORPUS, "jpeg"))}
    count = len(jpegs["jpeg"])
    print("profile on the JPEG part: %d files, %.1f MB, %d rounds" % (count, size_of(jpegs["jpeg"]) / 1e6, ROUNDS))
    fresh_copy({"jpeg": jpegs["jpeg"][:1]})
    wine_runs(BRINQ, ["jpeg"])
    wine_runs(FLOOR, ["jpeg"])
    steps = PROFILE_STEPS + [("brinq.exe", None)]
    times = {name: [] for name, _ in steps}
    starts = {"floor.exe": [], "brinq.exe": []}
    empty = os.path.join(SCRATCH, "empty")
    os.makedirs(empty, exist_ok=True)
    for r in range(ROUNDS):
        for name, switches in steps:
            fresh_copy(jpegs)
            runs = wine_runs(BRINQ, ["jpeg"]) if switches is None else wine_runs(FLOOR, ["jpeg"], switches)
            times[name].append(runs["jpeg"])
        for exe, path in (("floor.exe", FLOOR), ("brinq.exe", BRINQ)):
            starts[exe].append(timed(["wine", path, windows_path(empty)]))
        print("round %d: %s" % (r + 1, "  ".join("%.0f" % (v[-1] * 1000) for v in times.values())), flush=True)

    median = {name: statistics.median(v) * 1000 for name, v in times.items()}
    base = median["floor"]
    print()
    print("medians in ms, each run on a fresh copy of the JPEG part")
    print("%-32s %10s %10s %14s %14s" % ("step", "ms", "ms/file", "over floor ms", "over floor/file"))
    for name, _ in steps:
        print("%-32s %10.1f %10.2f %14.1f %14.2f" % (name, median[name], median[name] / count,
                                                    median[name] - base, (median[name] - base) / count))
    start = {exe: statistics.median(v) * 1000 for exe, v in starts.items()}
    print("process start (a run on an empty folder): floor.exe %.1f ms, brinq.exe %.1f ms, difference"
          " %.1f ms a run" % (start["floor.exe"], start["brinq.exe"], start["brinq.exe"] - start["floor.exe"]))
    rest = median["brinq.exe"] - median["in-place design: -m -w -s"]
    print("brinq.exe beyond the in-place design's I/O: %.1f ms (%.1f of it the start's difference); beyond"
          " today's I/O: %.1f ms" % (rest, start["brinq.exe"] - start["floor.exe"],
                                     median["brinq.exe"] - median["today's I/O: -m -w -s -c"]))
    shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(profile() if sys.argv[1:] == ["--profile"] else main())
