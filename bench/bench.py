"""Times brinq.exe against cp -r, jhead -purejpg and exiftool on the corpus. Expects Wine's
prefix to be warm (bench/run.sh starts it). A benchmark: it measures and prints, asserts nothing."""
import os
import shutil
import statistics
import subprocess
import sys
import time

import corpus

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BRINQ = os.path.join(ROOT, "build", "windows", "brinq.exe")
SCRATCH = os.path.join(ROOT, "build", "bench")
CORPUS = os.path.join(SCRATCH, "corpus")
WORK = os.path.join(SCRATCH, "work")
PARTS = ("jpeg", "png", "psd")
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "5"))
EXIFTOOL_SHARE = 4  # exiftool gets every fourth file of each part: it is slow


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def files_of(folder):
    return sorted(os.path.join(folder, f) for f in os.listdir(folder))


def size_of(paths):
    return sum(os.path.getsize(p) for p in paths)


def quiet(command):
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def fresh_copy(paths_by_part):
    """Copies the given files to WORK/<part>/ and flushes them to disk, outside any timing."""
    shutil.rmtree(WORK, ignore_errors=True)
    for part, paths in paths_by_part.items():
        os.makedirs(os.path.join(WORK, part))
        for p in paths:
            shutil.copy2(p, os.path.join(WORK, part))
    os.sync()


def timed(command):
    start = time.perf_counter()
    quiet(command)
    return time.perf_counter() - start


def removed_bytes(before):
    return before - size_of(p for part in PARTS if os.path.isdir(os.path.join(WORK, part))
                            for p in files_of(os.path.join(WORK, part)))


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


def brinq_runs(folders):
    """One brinq.exe per folder, so that the JPEG part has its own time."""
    return {part: timed(["wine", BRINQ, windows_path(os.path.join(WORK, part))]) for part in folders}


def max_rss_kb(args):
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "wine", BRINQ] + args,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    return int(result.stderr.strip().splitlines()[-1])


def main():
    ensure_corpus()
    everything = {part: files_of(os.path.join(CORPUS, part)) for part in PARTS}
    subset = {part: paths[::EXIFTOOL_SHARE] for part, paths in everything.items()}
    bytes_all = {part: size_of(paths) for part, paths in everything.items()}
    total = sum(bytes_all.values())
    jpeg_bytes = bytes_all["jpeg"]
    subset_bytes = sum(size_of(p) for p in subset.values())
    largest = max(os.path.getsize(p) for paths in everything.values() for p in paths)
    print("corpus: %d files, %.1f MB (JPEG %.1f, PNG %.1f, PSD %.1f MB), largest file %.2f MB" % (
        sum(len(p) for p in everything.values()), total / 1e6, jpeg_bytes / 1e6,
        bytes_all["png"] / 1e6, bytes_all["psd"] / 1e6, largest / 1e6))

    # Warm-up: Wine's own files and brinq.exe's pages in the cache.
    fresh_copy({"jpeg": everything["jpeg"][:1]})
    brinq_runs(["jpeg"])

    times = {k: [] for k in ("cp", "brinq", "brinq_jpeg", "brinq_png", "brinq_psd", "jhead", "exiftool")}
    removed = {}
    for r in range(ROUNDS):
        # The I/O floor: the same bytes copied once.
        shutil.rmtree(WORK, ignore_errors=True)
        os.sync()
        times["cp"].append(timed(["cp", "-r", CORPUS, WORK]))

        fresh_copy(everything)
        runs = brinq_runs(PARTS)
        removed["brinq"] = removed_bytes(total)
        for part in PARTS:
            times["brinq_" + part].append(runs[part])
        times["brinq"].append(sum(runs.values()))

        fresh_copy({"jpeg": everything["jpeg"]})
        times["jhead"].append(timed(["jhead", "-purejpg"] + files_of(os.path.join(WORK, "jpeg"))))
        removed["jhead"] = removed_bytes(jpeg_bytes)

        fresh_copy(subset)
        times["exiftool"].append(timed(["exiftool", "-q", "-q", "-all=", "-overwrite_original", "-r", WORK]))
        removed["exiftool"] = removed_bytes(subset_bytes)
        print("round %d: %s" % (r + 1, "  ".join("%s %.2fs" % (k, v[-1]) for k, v in times.items())),
              flush=True)

    median = {k: statistics.median(v) for k, v in times.items()}
    rows = [
        ("cp -r", "corpus", total, median["cp"], "-"),
        ("brinq.exe", "corpus", total, median["brinq"], removed["brinq"]),
        ("  brinq.exe", "JPEG part", jpeg_bytes, median["brinq_jpeg"], "-"),
        ("  brinq.exe", "PNG part", bytes_all["png"], median["brinq_png"], "-"),
        ("  brinq.exe", "PSD part", bytes_all["psd"], median["brinq_psd"], "-"),
        ("jhead -purejpg", "JPEG part", jpeg_bytes, median["jhead"], removed["jhead"]),
        ("exiftool -all=", "1/%d subset" % EXIFTOOL_SHARE, subset_bytes, median["exiftool"], removed["exiftool"]),
    ]
    print()
    print("medians of %d rounds, each tool on a fresh copy (page cache warm, copies synced first)" % ROUNDS)
    print("%-16s %-12s %10s %10s %10s %14s" % ("tool", "files", "MB", "median s", "MB/s", "bytes removed"))
    for tool, files, size, seconds, gone in rows:
        print("%-16s %-12s %10.1f %10.3f %10.1f %14s" % (tool, files, size / 1e6, seconds, size / 1e6 / seconds, gone))
    print("exiftool ran on %.1f of %.1f MB (every %dth file of each part); its time is scaled by bytes" % (
        subset_bytes / 1e6, total / 1e6, EXIFTOOL_SHARE))

    # Peak memory: one brinq.exe over the whole corpus, against one that finds nothing to do.
    fresh_copy(everything)
    peak = max_rss_kb([windows_path(os.path.join(WORK, part)) for part in PARTS])
    idle = max_rss_kb([windows_path(os.path.join(SCRATCH, "no-such-folder"))])
    print("peak memory of brinq.exe on the corpus: %.1f MB max RSS (%.1f MB for a run with no file;"
          " largest file %.2f MB)" % (peak / 1024, idle / 1024, largest / 1e6))
    shutil.rmtree(WORK, ignore_errors=True)

    exiftool_scaled = median["exiftool"] * total / subset_bytes
    print("brinq_vs_cp=%.2f brinq_vs_jhead=%.2f brinq_vs_exiftool=%.3f" % (
        median["brinq"] / median["cp"], median["brinq_jpeg"] / median["jhead"],
        median["brinq"] / exiftool_scaled))


if __name__ == "__main__":
    sys.exit(main())
