#!/usr/bin/env bash
# Installs what is missing, builds the native core and the Windows program, runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build fuzz

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j2
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/windows -j2

source scripts/wine-env.sh
start_display
start_wine 1252 932 65001
trap stop_wine_and_display EXIT

status=0
ctest --test-dir build/native --output-on-failure -j2 --timeout 600 | tee build/native-ctest.log || status=1
ctest --test-dir build/windows --output-on-failure -j2 --timeout 600 | tee build/windows-ctest.log || status=1

# One closing line for both runs.
summary() { sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$1"; }
read -r failed_n total_n <<<"$(summary build/native-ctest.log)"
read -r failed_w total_w <<<"$(summary build/windows-ctest.log)"
failed=$(( ${failed_n:-1} + ${failed_w:-1} ))
passed=$(( ${total_n:-0} + ${total_w:-0} - failed ))
echo "native: $(( total_n - failed_n )) of $total_n passed; windows: $(( total_w - failed_w )) of $total_w passed"
echo "$passed passed, $failed failed"
exit $status
