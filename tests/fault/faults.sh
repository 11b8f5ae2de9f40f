#!/usr/bin/env bash
# Faults of the file system around brinq.exe under Wine. Every case checks that the source
# ends exactly as it was or as the complete reduced copy (or, when the copy over it failed
# for good, that the complete copy waits beside the program with its record), that no
# temporary file is left, and that brinq.exe ended normally. Needs root: some cases mount small tmpfs
# folders, one of them read-only.
#   tests/fault/faults.sh BRINQ_EXE REDUCE_FILE WORK_FOLDER
set -uo pipefail
exe=$(realpath "$1")
reduce=$(realpath "$2")
work=$3
repo=$(cd "$(dirname "$0")/../.." && pwd)
temp_name=xtmp_7x91x4vnq.xxxx
waiting_name=xtmp_7x91x4vnq.p001

for mounted in "$work"/mnt-*; do mountpoint -q "$mounted" && umount "$mounted"; done
[ -d "$work" ] && chattr -R -i "$work" 2>/dev/null
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
failed=0

winpath() { echo "Z:${1//\//\\}"; }
check() {
  local what=$1
  shift
  if "$@"; then echo "ok:     $what"; else echo "FAILED: $what"; failed=1; fi
}
same() { cmp -s "$1" "$2"; }
# A fresh copy of brinq.exe in its own folder, so that its temporary file is ours alone.
new_bin() { mkdir -p "$1" && cp "$exe" "$1/brinq.exe"; }
# What Wine said is shown when brinq.exe did not end normally.
brinq() {
  local bin=$1 code
  shift
  timeout -s KILL 300 wine "$bin/brinq.exe" "$@" </dev/null >/dev/null 2>"$work/wine.log"
  code=$?
  [ $code = 0 ] || { echo "  brinq.exe ended with $code; Wine said:"; tail -5 "$work/wine.log"; }
  return $code
}
no_temp_left() { [ ! -e "$1/$temp_name" ]; }
mount_tmpfs() { mkdir -p "$1" && mount -t tmpfs -o "size=$2" tmpfs "$1"; }
fill_up() { dd if=/dev/zero of="$1/filler" bs=4k >/dev/null 2>&1 || true; }

# The images: a PNG whose copy drops pHYs and is large enough to be copied in many writes, and
# a JPEG of exactly two pages whose fixed JFIF segment makes the copy 6 bytes longer.
python3 - "$work" "$repo/scripts" <<'PY'
import os, sys
sys.path.insert(0, sys.argv[2])
import images
work = sys.argv[1]
ihdr, _ = images.png_pixels()
noise = bytes((i * 7919 + (i >> 7)) % 251 for i in range(300000))
png = images.PNG_SIGNATURE + b"".join(images.png_chunk(k, d) for k, d in
      [ihdr, (b"pHYs", b"\x00" * 9), (b"IDAT", noise), (b"IEND", b"")])
head = b"\xff\xd8" + images.jpeg_segment(0xE1, b"Exif\x00\x00") + images.DQT + images.SOF0 + images.DHT + images.SOS
jpeg = head + b"\x5a" * (8192 - len(head) - 2) + images.EOI
for name, data in (("big.png", png), ("grow.jpg", jpeg)):
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)
PY
"$reduce" "$work/big.png" "$work/grow.jpg" || exit 1
cc -shared -fPIC -O2 -o "$work/fail_writes.so" "$repo/tests/fault/fail_writes.c" -ldl || exit 1
cc -shared -fPIC -O2 -o "$work/save_meanwhile.so" "$repo/tests/fault/save_meanwhile.c" -ldl || exit 1
x86_64-w64-mingw32-gcc -O2 -o "$work/hold_file.exe" "$repo/tests/fault/hold_file.c" || exit 1

# Ends as it was, or as the complete copy, or the complete copy was kept beside the program.
whole_or_kept() {
  local source=$1 original=$2 kept=$3
  same "$source" "$original" || same "$source" "$original.expected" || same "$kept" "$original.expected"
}

echo "== the temporary file's folder is full"
bin=$work/mnt-full
mount_tmpfs "$bin" 2m && new_bin "$bin" && fill_up "$bin"
check "the folder is full" [ "$(df --output=avail "$bin" | tail -1)" -eq 0 ]
mkdir -p "$work/full" && cp "$work/big.png" "$work/full/photo.png"
brinq "$bin" "$(winpath "$work/full/photo.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "source as it was" same "$work/full/photo.png" "$work/big.png"
check "no temporary file left" no_temp_left "$bin"
umount "$bin"

echo "== the copy over the source fails part-way once"
bin=$work/bin-once && new_bin "$bin"
mkdir -p "$work/once" && cp "$work/big.png" "$work/once/photo.png"
LD_PRELOAD=$work/fail_writes.so FAIL_WRITES_PATH=$work/once/photo.png FAIL_WRITES_AFTER=100000 \
  FAIL_WRITES_MODE=once FAIL_WRITES_NOTE=$work/once.note brinq "$bin" "$(winpath "$work/once/photo.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "the first copy failed part-way" [ "$(wc -l <"$work/once.note")" = 2 ]
check "source is the complete copy after the retry" same "$work/once/photo.png" "$work/big.png.expected"
check "no copy kept aside" [ ! -e "$bin/photo (1).png" ]
check "no temporary file left" no_temp_left "$bin"

echo "== the copy over the source fails part-way every time"
bin=$work/bin-always && new_bin "$bin"
mkdir -p "$work/always" && cp "$work/big.png" "$work/always/photo.png"
echo "an earlier kept copy" >"$bin/photo (1).png"
LD_PRELOAD=$work/fail_writes.so FAIL_WRITES_PATH=$work/always/photo.png FAIL_WRITES_AFTER=100000 \
  FAIL_WRITES_MODE=always FAIL_WRITES_NOTE=$work/always.note brinq "$bin" "$(winpath "$work/always/photo.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "both copies failed" [ "$(wc -l <"$work/always.note")" -ge 3 ]
check "the complete copy kept beside the program" same "$bin/photo (2).png" "$work/big.png.expected"
check "an earlier kept copy untouched" [ "$(cat "$bin/photo (1).png")" = "an earlier kept copy" ]
check "source whole, or its copy kept" whole_or_kept "$work/always/photo.png" "$work/big.png" "$bin/photo (2).png"
check "its record waits beside it" [ -s "$bin/$waiting_name" ]
check "no temporary file left" no_temp_left "$bin"

echo "== the copy fails every time and no \"<name> (n)\" is a file name"
# The source's name with " (1)" passes the 255 characters of a file name; the next file of the
# batch must not take the only whole image's place.
bin=$work/bin-nofit && new_bin "$bin"
long_name=$(printf 'p%.0s' $(seq 250)).png
mkdir -p "$work/nofit" && cp "$work/big.png" "$work/nofit/$long_name" && cp "$work/big.png" "$work/nofit/next.png"
LD_PRELOAD=$work/fail_writes.so FAIL_WRITES_PATH=$work/nofit/$long_name FAIL_WRITES_AFTER=100000 \
  FAIL_WRITES_MODE=always brinq "$bin" "$(winpath "$work/nofit/$long_name")" "$(winpath "$work/nofit/next.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "the complete copy kept under a short name" same "$bin/kept (1).png" "$work/big.png.expected"
check "the next file cleaned" same "$work/nofit/next.png" "$work/big.png.expected"
check "no temporary file left" no_temp_left "$bin"

echo "== another file is swapped in at the source's path before the second try of the copy"
bin=$work/bin-swap && new_bin "$bin"
mkdir -p "$work/swap" && cp "$work/big.png" "$work/swap/photo.png" && cp "$work/grow.jpg" "$work/swap.saved"
LD_PRELOAD=$work/fail_writes.so FAIL_WRITES_PATH=$work/swap/photo.png FAIL_WRITES_AFTER=100000 \
  FAIL_WRITES_MODE=once FAIL_WRITES_SWAP=$work/swap.saved brinq "$bin" "$(winpath "$work/swap/photo.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "the file swapped in untouched" same "$work/swap/photo.png" "$work/grow.jpg"
check "the complete copy waits beside the program with its record" \
  [ "$(ls "$bin" | tr '\n' ' ')" = "brinq.exe photo (1).png $waiting_name " ]
check "the waiting copy is the complete copy" same "$bin/photo (1).png" "$work/big.png.expected"

echo "== the source's times cannot be put back"
bin=$work/bin-times && new_bin "$bin"
mkdir -p "$work/times" && cp "$work/big.png" "$work/times/photo.png"
LD_PRELOAD=$work/fail_writes.so FAIL_WRITES_PATH=$work/times/photo.png FAIL_WRITES_AFTER=1000000000 \
  FAIL_WRITES_TIMES=1 FAIL_WRITES_NOTE=$work/times.note brinq "$bin" "$(winpath "$work/times/photo.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "the times were refused" grep -q "times refused" "$work/times.note"
check "the source is the complete copy" same "$work/times/photo.png" "$work/big.png.expected"
check "nothing waits, nothing left beside the program" [ "$(ls "$bin")" = brinq.exe ]

echo "== another program saves the source while brinq.exe cleans it"
bin=$work/bin-saved && new_bin "$bin"
mkdir -p "$work/saved" && cp "$work/big.png" "$work/saved/photo.png" && touch -d 2002-01-01 "$work/saved/photo.png"
cp "$work/big.png" "$work/saved.expected" && echo "a newer save" >>"$work/saved.expected"
LD_PRELOAD=$work/save_meanwhile.so SAVE_MEANWHILE_PATH=$work/saved/photo.png brinq "$bin" "$(winpath "$work/saved/photo.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "the newer save stands" same "$work/saved/photo.png" "$work/saved.expected"
check "its time is not put back" [ "$(stat -c %Y "$work/saved/photo.png")" -gt "$(date -d 2003-01-01 +%s)" ]
check "no temporary file left" no_temp_left "$bin"

echo "== the source lies on a full tmpfs and its copy is longer"
bin=$work/bin-grow && new_bin "$bin"
mount_tmpfs "$work/mnt-grow" 64k && cp "$work/grow.jpg" "$work/mnt-grow/photo.jpg" && fill_up "$work/mnt-grow"
check "the source's folder is full" [ "$(df --output=avail "$work/mnt-grow" | tail -1)" -eq 0 ]
brinq "$bin" "$(winpath "$work/mnt-grow/photo.jpg")"
check "brinq.exe ended normally" [ $? = 0 ]
echo "  source $(stat -c %s "$work/mnt-grow/photo.jpg") bytes, copy $(stat -c %s "$work/grow.jpg.expected")," \
  "kept aside: $(ls "$bin" | grep -c 'photo (')"
check "source whole, or its copy kept" whole_or_kept "$work/mnt-grow/photo.jpg" "$work/grow.jpg" "$bin/photo (1).jpg"
check "no temporary file left" no_temp_left "$bin"
umount "$work/mnt-grow"

# A longer copy writes its tail at the source's old end first, then the copy from the start.
# When the tail fails, the source keeps its old length; when every write from the start fails,
# the copy waits beside the program and the next start finishes the source.
# longer_copy_fails_at MODE: brinq.exe on a copy of grow.jpg in work/MODE, its writes failing there.
longer_copy_fails_at() {
  bin=$work/bin-$1 && new_bin "$bin"
  mkdir -p "$work/$1" && cp "$work/grow.jpg" "$work/$1/photo.jpg"
  LD_PRELOAD=$work/fail_writes.so FAIL_WRITES_PATH=$work/$1/photo.jpg FAIL_WRITES_AFTER=1000000000 \
    FAIL_WRITES_AT=$1 brinq "$bin" "$(winpath "$work/$1/photo.jpg")"
  check "brinq.exe ended normally" [ $? = 0 ]
}

echo "== the copy is longer and its tail at the source's old end cannot be written"
longer_copy_fails_at tail
check "source as it was" same "$work/tail/photo.jpg" "$work/grow.jpg"
check "no temporary file left, nothing kept" [ "$(ls "$bin")" = brinq.exe ]

echo "== the copy is longer and nothing can be written from the source's start"
longer_copy_fails_at start
check "the old image still whole in the source" cmp -s -n "$(stat -c %s "$work/grow.jpg")" "$work/start/photo.jpg" "$work/grow.jpg"
check "the copy waits beside the program with its record" \
  [ "$(ls "$bin" | tr '\n' ' ')" = "brinq.exe photo (1).jpg $waiting_name " ]
check "the waiting copy is the complete copy" same "$bin/photo (1).jpg" "$work/grow.jpg.expected"
brinq "$bin" "$(winpath "$work/start/photo.jpg")"
check "the next start finishes the source" same "$work/start/photo.jpg" "$work/grow.jpg.expected"
check "and leaves nothing beside the program" [ "$(ls "$bin")" = brinq.exe ]

# The user's temporary folder, which Disk Cleanup empties: the program never writes there. Its
# own folder beside the key takes the temporary file where the program's folder takes none.
user_temp=$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')")
program_leftovers() { ls "$1" | grep -c '^xtmp_7x91x4vnq\|^xtp' ; }
with_profile() {
  local profile=$1
  shift
  timeout -s KILL 300 wine cmd /c "set LOCALAPPDATA=$(winpath "$profile")&& $*" </dev/null >/dev/null 2>&1
}

echo "== the program's folder refuses writing"
bin=$work/mnt-readonly
mount_tmpfs "$bin" 4m && new_bin "$bin" && mount -o remount,ro "$bin"
mkdir -p "$work/readonly" "$work/profile-ro" && cp "$work/big.png" "$work/readonly/photo.png" &&
  cp "$work/big.png" "$work/readonly/waits.png" && touch -d 2002-01-01 "$work/readonly/photo.png"
temp_before=$(program_leftovers "$user_temp")
brinq "$bin" "$(winpath "$work/readonly/photo.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "source is the complete copy" same "$work/readonly/photo.png" "$work/big.png.expected"
check "its time is kept" [ "$(stat -c %Y "$work/readonly/photo.png")" = "$(date -d 2002-01-01 +%s)" ]
# A copy that must wait for its source waits in the user's own folder, not in the temporary one.
# The write fails at a piece's end, as a disk's writes tear: a later start can prove the source.
LD_PRELOAD=$work/fail_writes.so FAIL_WRITES_PATH=$work/readonly/waits.png FAIL_WRITES_AFTER=65536 \
  FAIL_WRITES_MODE=always with_profile "$work/profile-ro" "$(winpath "$bin/brinq.exe")" "$(winpath "$work/readonly/waits.png")"
check "the copy waits with its record in the user's own folder of the program's" \
  [ "$(ls "$work/profile-ro/Brindlequist" | tr '\n' ' ')" = "brinq.key waits (1).png $waiting_name " ]
check "the waiting copy is the complete copy" same "$work/profile-ro/Brindlequist/waits (1).png" "$work/big.png.expected"
check "nothing written to the user's temporary folder" [ "$(program_leftovers "$user_temp")" = "$temp_before" ]
with_profile "$work/profile-ro" "$(winpath "$bin/brinq.exe")" "$(winpath "$work/readonly")"
check "the next start finishes it" same "$work/readonly/waits.png" "$work/big.png.expected"
check "and leaves only the key" [ "$(ls "$work/profile-ro/Brindlequist")" = brinq.key ]

echo "== neither the program's folder nor the user's own folder takes a file"
# No key can be kept either: nothing is replaced.
mount_tmpfs "$work/mnt-no-profile" 1m && mount -o remount,ro "$work/mnt-no-profile"
cp "$work/big.png" "$work/readonly/other.png"
with_profile "$work/mnt-no-profile" "$(winpath "$bin/brinq.exe")" "$(winpath "$work/readonly/other.png")"
check "brinq.exe ended normally" [ $? = 0 ]
check "source as it was" same "$work/readonly/other.png" "$work/big.png"
check "nothing written to the user's temporary folder" [ "$(program_leftovers "$user_temp")" = "$temp_before" ]
umount "$bin" "$work/mnt-no-profile"

echo "== leftovers beside the program that this user cannot write"
# As a run under another account can leave them: empty, and immutable even to root under Wine.
bin=$work/bin-leftovers && new_bin "$bin"
touch "$bin/$temp_name" "$bin/$waiting_name" && chattr +i "$bin/$temp_name" "$bin/$waiting_name"
check "the leftovers refuse writing" [ "$(lsattr -d "$bin/$temp_name" | cut -c5)" = i ]
mkdir -p "$work/leftovers"
for i in 1 2 3 4 5; do cp "$work/grow.jpg" "$work/leftovers/photo$i.jpg"; done
brinq "$bin" "$(winpath "$work/leftovers")"
check "brinq.exe ended normally" [ $? = 0 ]
cleaned=0
for i in 1 2 3 4 5; do same "$work/leftovers/photo$i.jpg" "$work/grow.jpg.expected" && cleaned=$((cleaned + 1)); done
check "all five cleaned through the user's temporary folder" [ $cleaned = 5 ]
check "nothing left in the user's temporary folder" [ "$(program_leftovers "$user_temp")" = 0 ]
chattr -i "$bin/$temp_name" "$bin/$waiting_name"

echo "== another user's waiting copy and record beside the program"
# Another user's run, with a key of its own, could not finish its copy over the source: its copy
# and sealed record wait. This user's run acts on none of it, and that user's next run finishes it.
bin=$work/bin-foreign && new_bin "$bin"
mkdir -p "$work/foreign" "$work/profile-b" && cp "$work/big.png" "$work/foreign/photo.png"
as_user_b() { wine cmd /c "set LOCALAPPDATA=$(winpath "$work/profile-b")&& $(winpath "$bin/brinq.exe") $*" </dev/null >/dev/null 2>&1; }
# The write fails at a piece's end: the source is then one that a later start can prove.
LD_PRELOAD=$work/fail_writes.so FAIL_WRITES_PATH=$work/foreign/photo.png FAIL_WRITES_AFTER=65536 \
  FAIL_WRITES_MODE=always as_user_b "$(winpath "$work/foreign/photo.png")"
check "the other user's copy waits" same "$bin/photo (1).png" "$work/big.png.expected"
cp "$work/foreign/photo.png" "$work/foreign.cut" && cp "$bin/$waiting_name" "$work/foreign.record"
for i in 1 2; do cp "$work/grow.jpg" "$work/foreign/next$i.jpg"; done
brinq "$bin" "$(winpath "$work/foreign/photo.png")" "$(winpath "$work/foreign/next1.jpg")"
check "brinq.exe ended normally" [ $? = 0 ]
check "the source it names stays as the cut left it" same "$work/foreign/photo.png" "$work/foreign.cut"
check "its record and copy left as they were" same "$bin/$waiting_name" "$work/foreign.record"
check "the waiting copy left as it was" same "$bin/photo (1).png" "$work/big.png.expected"
check "this user's file cleaned" same "$work/foreign/next1.jpg" "$work/grow.jpg.expected"
as_user_b "$(winpath "$work/foreign/next2.jpg")"
check "that user's next run finishes it" same "$work/foreign/photo.png" "$work/big.png.expected"
check "and leaves nothing beside the program" [ "$(ls "$bin")" = brinq.exe ]

echo "== links at the temporary file's name and a waiting record's"
# Planted in a shared folder: what a link points to is never read into a copy, written, cut or
# deleted, and a link to nothing keeps no run waiting.
mkdir -p "$work/elsewhere" "$work/link"
for at in $temp_name $waiting_name; do
  for kind in symbolic dangling hard; do
    bin=$work/bin-link && rm -rf "$bin" && new_bin "$bin"
    seq 5000 >"$work/elsewhere/report.txt" && cp "$work/elsewhere/report.txt" "$work/report.saved"
    cp "$work/big.png" "$work/link/photo.png"
    case $kind in
      symbolic) ln -s "$work/elsewhere/report.txt" "$bin/$at" ;;
      dangling) ln -s "$work/elsewhere/nothing" "$bin/$at" ;;
      hard) ln "$work/elsewhere/report.txt" "$bin/$at" ;;
    esac
    brinq "$bin" "$(winpath "$work/link/photo.png")"
    check "a $kind link at $at: brinq.exe ended normally" [ $? = 0 ]
    check "what it points to is untouched" same "$work/elsewhere/report.txt" "$work/report.saved"
    check "the photo is cleaned" same "$work/link/photo.png" "$work/big.png.expected"
  done
done
bin=$work/bin-link && rm -rf "$bin" && new_bin "$bin"
for folder in "$bin" "$work/profile-link/Brindlequist"; do
  mkdir -p "$folder" && ln -s "$work/elsewhere/nothing" "$folder/$temp_name"
done
cp "$work/big.png" "$work/link/photo.png"
with_profile "$work/profile-link" "$(winpath "$bin/brinq.exe")" "$(winpath "$work/link/photo.png")"
check "links to nothing in both folders: brinq.exe ended normally" [ $? = 0 ]
check "the photo as it was" same "$work/link/photo.png" "$work/big.png"

# A source that Windows would refuse to copy over: it must stay as it was.
refused_source() {
  local case=$1 name=$2 bin=$work/bin-$1
  new_bin "$bin"
  mkdir -p "$work/$case" && cp "$work/big.png" "$work/$case/$name"
  [ "$case" = readonly ] && chmod 444 "$work/$case/$name"
  brinq "$bin" "$(winpath "$work/$case/$name")"
  check "brinq.exe ended normally" [ $? = 0 ]
  check "source as it was" same "$work/$case/$name" "$work/big.png"
  check "no temporary file left" no_temp_left "$bin"
}

echo "== a read-only source"
refused_source readonly photo.png

echo "== a hidden source"
refused_source hidden .photo.png

echo "== a source held open by another program"
bin=$work/bin-held && new_bin "$bin"
mkdir -p "$work/held" && cp "$work/big.png" "$work/held/photo.png"
wine "$work/hold_file.exe" "$(winpath "$work/held/photo.png")" "$(winpath "$work/held/ready")" \
  "$(winpath "$work/held/stop")" </dev/null >/dev/null 2>&1 &
holder=$!
for _ in $(seq 200); do [ -e "$work/held/ready" ] && break; sleep 0.05; done
check "the other program holds the source" [ -e "$work/held/ready" ]
brinq "$bin" "$(winpath "$work/held/photo.png")"
check "brinq.exe ended normally" [ $? = 0 ]
touch "$work/held/stop"
wait "$holder"
check "source as it was" same "$work/held/photo.png" "$work/big.png"
check "no temporary file left" no_temp_left "$bin"

echo "== files deleted while brinq.exe sweeps their folder"
bin=$work/bin-sweep && new_bin "$bin"
mkdir -p "$work/sweep"
for i in $(seq 300); do cp "$work/big.png" "$work/sweep/photo$i.png"; done
brinq "$bin" "$(winpath "$work/sweep")" &
sweeper=$!
for _ in $(seq 400); do
  [ "$(find "$work/sweep" -name '*.png' -size -300070c | wc -l)" -gt 0 ] && break
  sleep 0.01
done
during=0
for i in $(shuf -i 1-300 -n 150); do
  kill -0 "$sweeper" 2>/dev/null && during=$((during + 1))
  rm -f "$work/sweep/photo$i.png"
  sleep 0.002
done
wait "$sweeper"
check "brinq.exe ended normally" [ $? = 0 ]
left_whole() {
  local file
  for file in "$work/sweep"/*.png; do
    same "$file" "$work/big.png" || same "$file" "$work/big.png.expected" || { echo "  damaged: $file"; return 1; }
  done
}
check "every file left is as it was or the complete copy" left_whole
check "files were deleted while the sweep ran" [ "$during" -gt 0 ]
check "no temporary file left" no_temp_left "$bin"
echo "  $during files deleted while the sweep ran;" \
  "$(find "$work/sweep" -name '*.png' -size -300070c | wc -l) of $(ls "$work/sweep" | wc -l) files left were cleaned"

exit $failed
