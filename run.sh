#!/usr/bin/env bash
# ./run.sh [PATH...]: installs what is missing, builds brinq.exe and runs it under Wine on the
# given files and folders. Without a PATH it cleans a fresh copy of samples/. The program
# prints nothing, so this prints each image's size before and after and whether it changed.
# ./run.sh --window: opens the window instead (on $DISPLAY, or on a private display of which
# a screenshot is saved as build/window.png).
set -euo pipefail

window=0
[ "${1:-}" = "--window" ] && { window=1; shift; }

# Paths are taken relative to the caller's folder; everything else happens at the repo root.
targets=()
for arg in "$@"; do targets+=("$(realpath -m -- "$arg")"); done
cd "$(dirname "$(realpath "$0")")"

scripts/install-deps.sh build samples
[ -f build/windows/CMakeCache.txt ] ||
  cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/windows -j2 --target brinq >/dev/null

if [ $window -eq 1 ]; then
  source scripts/wine-env.sh
  trap stop_wine_and_display EXIT
  if [ -n "${DISPLAY:-}" ]; then
    start_wine
    echo "brinq.exe shows its window on $DISPLAY; drop files on it, close it with its x button"
    wine build/windows/brinq.exe </dev/null >/dev/null 2>&1 || true
  else
    start_display
    start_wine
    wine build/windows/brinq.exe </dev/null >/dev/null 2>&1 &
    sleep 3
    /usr/bin/import -display "$DISPLAY" -window root -crop 400x200+312+284 build/window.png
    echo "no display: the window opened on a private one; its screenshot is build/window.png"
  fi
  exit 0
fi

if [ ${#targets[@]} -eq 0 ]; then
  mkdir -p build/scratch
  scratch="$(mktemp -d "$PWD/build/scratch/samples.XXXXXX")"
  cp samples/* "$scratch/"
  targets=("$scratch")
  echo "cleaning a copy of samples/ in $scratch"
fi

# The files the program may rewrite: each file named, and the images directly in each folder;
# each listed once, however often it is reached.
files=()
declare -A listed
add_file() { [ -n "${listed[$1]:-}" ] || { listed[$1]=1; files+=("$1"); }; }
for target in "${targets[@]}"; do
  if [ -d "$target" ]; then
    while IFS= read -r -d '' f; do add_file "$f"; done < <(
      find "$target" -mindepth 1 -maxdepth 1 -type f \
        \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' -o -iname '*.psd' \) -print0 | sort -z)
  elif [ -f "$target" ]; then
    add_file "$target"
  else
    echo "not found: $target" >&2
  fi
done

declare -A size_before sum_before
for f in "${files[@]}"; do
  size_before[$f]=$(stat -c %s -- "$f")
  sum_before[$f]=$(sha256sum -- "$f" | cut -d' ' -f1)
done

source scripts/wine-env.sh
start_wine
trap stop_wine_and_display EXIT

# Wine sees the Linux root as drive Z:.
windows_paths=()
for target in "${targets[@]}"; do windows_paths+=("Z:${target//\//\\}"); done
wine build/windows/brinq.exe "${windows_paths[@]}" </dev/null >/dev/null 2>&1 || true

total_before=0 total_after=0 rewritten=0
printf '%12s %12s  %-9s  %s\n' before after result file
for f in "${files[@]}"; do
  after=$(stat -c %s -- "$f")
  result=unchanged
  [ "$(sha256sum -- "$f" | cut -d' ' -f1)" != "${sum_before[$f]}" ] && result=rewritten && rewritten=$((rewritten + 1))
  printf '%12d %12d  %-9s  %s\n' "${size_before[$f]}" "$after" "$result" "$f"
  total_before=$((total_before + size_before[$f]))
  total_after=$((total_after + after))
done
printf '%12d %12d  total: %d of %d files rewritten, %d bytes removed\n' \
  "$total_before" "$total_after" "$rewritten" "${#files[@]}" $((total_before - total_after))
