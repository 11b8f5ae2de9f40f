#!/usr/bin/env bash
# Benchmark: builds a corpus once (build/bench/corpus: about 330 MB of large files, 2,000 JPEGs
# of about 20 KB and 500 of 19 to 55 KB), then times cp -r, the floor (bench/floor.cpp) plain, flushed (-f) and
# lean (-l) and brinq.exe under Wine, jhead -purejpg and exiftool on fresh copies of whole parts,
# several rounds (BENCH_ROUNDS, 9; exiftool BENCH_EXIFTOOL_ROUNDS, 3). Prints median MB/s, each
# part against the floors and exiftool, the small files, brinq.exe's peak memory and, last, the
# ratios. Then brinq.exe and the plain and lean floors once more with every flush made to wait as
# on a real disk (bench/slowflush.c, preloaded into their wine command): 2 ms and 20 ms, the waits
# overlapping and one by one; BENCH_FLUSH_ONLY=1 runs only that part. BENCH_EXE times that
# brinq.exe instead of building one; BENCH_BEFORE_EXE times another beside it, "brinq.exe (before)".
# With --profile: where brinq.exe's time on the JPEG part goes beyond the floor, step by step.
set -euo pipefail
# Named from the caller's folder, read from the repository's.
if [ -n "${BENCH_EXE:-}" ]; then export BENCH_EXE="$(realpath "$BENCH_EXE")"; fi
if [ -n "${BENCH_BEFORE_EXE:-}" ]; then export BENCH_BEFORE_EXE="$(realpath "$BENCH_BEFORE_EXE")"; fi
cd "$(dirname "$(realpath "$0")")/.."

scripts/install-deps.sh build samples bench >&2
if [ -z "${BENCH_EXE:-}" ]; then
  [ -f build/windows/CMakeCache.txt ] ||
    cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
  cmake --build build/windows -j2 --target brinq >/dev/null
fi
mkdir -p build/bench
x86_64-w64-mingw32-g++-posix -O2 -static -mwindows -Wall -Wextra -o build/bench/floor.exe bench/floor.cpp -lwinmm
cc -O2 -shared -fPIC -Wall -Wextra -o build/bench/slowflush.so bench/slowflush.c

source scripts/wine-env.sh
# A prefix of the bench's own: stopping it at the end stops no one else's tests.
wine_prefix_base="$PWD/build/bench/wineprefix"
export WINEPREFIX="$wine_prefix_base"
# Wine's server quits a few seconds after its last client; between brinq.exe's turns that
# would add a cold start (about 0.3 s) to its times. Keep it until stop_wine_and_display.
wineserver -p 2>/dev/null || true
start_wine
trap stop_wine_and_display EXIT
PYTHONDONTWRITEBYTECODE=1 python3 bench/bench.py "$@"
