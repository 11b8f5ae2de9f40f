#!/usr/bin/env bash
# Builds one fuzz target with clang (libFuzzer, ASan, UBSan) and runs it for SECONDS.
#   scripts/fuzz.sh png|jpeg|psd|emblem SECONDS
# The corpus grows in build/fuzz/corpus-TARGET from seeds that scripts/images.py builds (the
# committed record for the Emblem decoder); a
# crashing input lands in build/fuzz/artifacts-TARGET and the run fails. Each run's executions
# are added to build/fuzz/history-TARGET.log.
set -euo pipefail
cd "$(dirname "$0")/.."
target=$1
seconds=$2
case "$target" in png|jpeg|psd|emblem) ;; *) echo "unknown target: $target" >&2; exit 2 ;; esac

out=build/fuzz
binary=$out/fuzz_$target
mkdir -p "$out/corpus-$target" "$out/seeds-$target" "$out/artifacts-$target"
sources=(clean/work_buffer.cpp clean/reduce_source.cpp clean/streams.cpp clean/filter_png.cpp clean/filter_jpeg.cpp
         clean/filter_psd.cpp clean/checksum.cpp fuzz/harness.cpp "fuzz/fuzz_$target.cpp")
[ "$target" = emblem ] && sources=(emblem/decode.cpp fuzz/fuzz_emblem.cpp)
stale=0
[ -x "$binary" ] || stale=1
for source in "${sources[@]}" clean/clean.h replace/record.h fuzz/harness.h emblem/emblem.h; do
  [ "$source" -nt "$binary" ] && stale=1
done
if [ $stale = 1 ]; then
  clang++ -std=c++17 -g -O1 -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    "${sources[@]}" -o "$binary.new"
  mv "$binary.new" "$binary"
fi
if [ "$target" = emblem ]; then
  python3 -c 'import re, sys
text = open("res/emblem_record.inc").read()
open(sys.argv[1], "wb").write(bytes(int(h, 16) for h in re.findall(r"0x([0-9A-F]{2})", text)))' \
    "$out/seeds-$target/committed_record"
else
  python3 scripts/images.py "$out/seeds-$target" "$target"
fi

log=$out/run-$target-$$.log
status=0
"$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$out/artifacts-$target/" "$out/corpus-$target" "$out/seeds-$target" 2>"$log" || status=$?
executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
echo "$(date -Is) executions ${executed:-0} status $status" >>"$out/history-$target.log"
grep -E '^(==[0-9]+==ERROR|SUMMARY|broken promise|.*runtime error)' "$log" || true
tail -n 8 "$log"
mv "$log" "$out/last-$target.log"
exit $status
