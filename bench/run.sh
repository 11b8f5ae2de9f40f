#!/usr/bin/env bash
# Benchmark: builds a corpus once (build/bench/corpus: about 330 MB of large files and 2,000
# JPEGs of about 20 KB), then times cp -r, the floor (bench/floor.cpp) plain and flushed (-f) and
# brinq.exe under Wine, jhead -purejpg and exiftool on fresh copies of whole parts, several rounds
# (BENCH_ROUNDS, 9; exiftool BENCH_EXIFTOOL_ROUNDS, 3). Prints median MB/s, each part against both
# floors and exiftool, the small files, brinq.exe's peak memory and, last, the ratios.
# With --profile: where brinq.exe's time on the JPEG part goes beyond the floor, step by step.
set -euo pipefail
cd "$(dirname "$(realpath "$0")")/.."

scripts/install-deps.sh build samples bench >&2
[ -f build/windows/CMakeCache.txt ] ||
  cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/windows -j2 --target brinq >/dev/null
mkdir -p build/bench
x86_64-w64-mingw32-g++-posix -O2 -static -mwindows -Wall -Wextra -I. -o build/bench/floor.exe bench/floor.cpp -lwinmm

source scripts/wine-env.sh
# Wine's server quits a few seconds after its last client; between brinq.exe's turns that
# would add a cold start (about 0.3 s) to its times. Keep it until stop_wine_and_display.
wineserver -p 2>/dev/null || true
start_wine
trap stop_wine_and_display EXIT
PYTHONDONTWRITEBYTECODE=1 python3 bench/bench.py "$@"
