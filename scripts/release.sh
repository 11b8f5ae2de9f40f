#!/usr/bin/env bash
# scripts/release.sh: builds brinq.exe from the committed tree (HEAD), never from the working
# files, in a build folder of its own (build/release), and writes
# build/release/brinq-<version>-win64.zip with brinq.exe, README.txt, LICENSE.txt and SHA256SUMS.
# One commit gives the same zip, byte for byte, in any folder on any machine of this kind.
# Prints the zip's path last.
set -euo pipefail
cd "$(dirname "$(realpath "$0")")/.."

scripts/install-deps.sh build >&2
git diff --quiet HEAD -- || echo "release.sh: uncommitted changes are left out; building $(git rev-parse --short HEAD)" >&2

out="$PWD/build/release"
rm -rf "$out"
mkdir -p "$out/source"
git archive HEAD | tar -x -C "$out/source"
cmake -S "$out/source" -B "$out/windows" -DCMAKE_TOOLCHAIN_FILE="$out/source/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$out/windows" -j2 --target brinq >&2

# The version resource's text, through the preprocessor that windres uses.
version=$(printf '#include "res/version.h"\nBRINQ_VERSION_TEXT\n' |
  x86_64-w64-mingw32-gcc-posix -E -P -x c -I "$out/source" - | tr -d '" ')
zip="$out/brinq-$version-win64.zip"
python3 scripts/pack_release.py "$out/source" "$out/windows/brinq.exe" "$(git log -1 --format=%ct HEAD)" "$zip"
echo "$zip"
