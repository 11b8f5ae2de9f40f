#!/usr/bin/env bash
# Benchmark: builds a corpus of about 330 MB once (build/bench/corpus), then times cp -r,
# brinq.exe under Wine, jhead -purejpg and exiftool on fresh copies of it, several rounds.
# Prints median MB/s, brinq.exe's peak memory and, last, the ratios of the median times.
set -euo pipefail
cd "$(dirname "$(realpath "$0")")/.."

scripts/install-deps.sh build samples bench >&2
[ -f build/windows/CMakeCache.txt ] ||
  cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/windows -j2 --target brinq >/dev/null

source scripts/wine-env.sh
# Wine's server quits a few seconds after its last client; between brinq.exe's turns that
# would add a cold start (about 0.3 s) to its times. Keep it until stop_wine_and_display.
wineserver -p 2>/dev/null || true
start_wine
trap stop_wine_and_display EXIT
PYTHONDONTWRITEBYTECODE=1 python3 bench/bench.py
