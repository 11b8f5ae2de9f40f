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
from pictures import folder_files, read, write  # noqa: E402

FOLDERS = ("first", "second")

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
