#!/usr/bin/env bash
# Libraries planted beside brinq.exe under the names of the system libraries that it loads and
# that are no known libraries of Windows (winmm, bcrypt, the msacm32 that winmm loads, and the
# uxtheme of the window) never run inside it, in a command-line run that replaces a file and in
# a window run. Wine is told to look beside the program first for them, as Windows does.
#   tests/release/planted_dlls.sh BRINQ_EXE WORK_FOLDER      (needs DISPLAY for the window)
set -uo pipefail
exe=$(realpath "$1")
work=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
planted="winmm bcrypt msacm32 uxtheme"
rm -rf "$work" && mkdir -p "$work/bin" "$work/photos" && work=$(realpath "$work")
x86_64-w64-mingw32-gcc -shared -O2 -o "$work/marker.dll" "$repo/tests/release/marker_dll.c" || exit 1
cp "$exe" "$work/bin/brinq.exe"
for name in $planted; do cp "$work/marker.dll" "$work/bin/$name.dll"; done
python3 - "$work/photos/photo.png" "$repo/scripts" <<'PY'
import sys
sys.path.insert(0, sys.argv[2])
import images
ihdr, idat = images.png_pixels()
chunks = [ihdr, (b"pHYs", b"\x00" * 9), idat, (b"IEND", b"")]
open(sys.argv[1], "wb").write(images.PNG_SIGNATURE + b"".join(images.png_chunk(k, d) for k, d in chunks))
PY
cp "$work/photos/photo.png" "$work/photo.before"
export WINEDLLOVERRIDES="mscoree,mshtml=;$(tr ' ' ',' <<<"$planted")=n,b" WINEDEBUG=+loaddll
failed=0
check() {
  local what=$1
  shift
  if "$@"; then echo "ok:     $what"; else echo "FAILED: $what"; failed=1; fi
}
no_marker() { [ -z "$(ls "$work/bin" | grep '\.ran$')" ]; }
# The libraries that brinq.exe's own process loaded, as Wine's log tells them.
loaded() {
  local process
  process=$(grep -m1 'brinq.exe" at' "$1" | cut -d: -f1)
  grep "^$process:.*Loaded L\"" "$1" | sed 's/.*Loaded L"//; s/".*//; s/.*\\\\//' | grep -vx brinq.exe | sort -fu | tr '\n' ' '
}

echo "== a command-line run that replaces a file"
timeout -s KILL 60 wine "$work/bin/brinq.exe" "Z:${work//\//\\}\\photos" </dev/null >/dev/null 2>"$work/command-line.log"
check "brinq.exe ended normally" [ $? = 0 ]
check "the photo was cleaned: the seal and the pause between files were bound" \
  [ "$(stat -c %s "$work/photos/photo.png")" -lt "$(stat -c %s "$work/photo.before")" ]
check "no planted library ran" no_marker
echo "  loaded: $(loaded "$work/command-line.log")"
pkill -KILL -f "$work/bin/brinq.exe"  # one that a planted library left hanging

echo "== a window run"
timeout -s KILL 60 wine "$work/bin/brinq.exe" </dev/null >/dev/null 2>"$work/window.log" &
for _ in $(seq 200); do grep -q 'uxtheme' "$work/window.log" && break; sleep 0.1; done
sleep 1
check "the window loaded the system's uxtheme" grep -q 'system32\\\\uxtheme.dll' "$work/window.log"
pkill -KILL -f "$work/bin/brinq.exe"
wait 2>/dev/null
check "no planted library ran" no_marker
echo "  loaded: $(loaded "$work/window.log")"
exit $failed
