#!/usr/bin/env bash
# The Windows tests' emulator: Wine in the prefix and locale of the code page that
# BRINQ_CODE_PAGE names (1252 when unset). start_wine (wine-env.sh) makes and starts the prefix
# beforehand: tests side by side must not each set about making it.
source "$(dirname "$0")/wine-env.sh"
use_code_page "${BRINQ_CODE_PAGE:-1252}"
if [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
  echo "no Wine prefix at $WINEPREFIX: run ./test.sh, or start_wine ${BRINQ_CODE_PAGE:-1252} from scripts/wine-env.sh" >&2
  exit 1
fi
# Wine starts its desktop process, explorer.exe, from the first program that needs a desktop,
# and it keeps that program's standard output until the desktop closes: on ctest's pipes, ctest
# would wait that long for the test (and hold its resource lock). A file is passed on instead.
output="$(mktemp "${TMPDIR:-/tmp}/wine-test.XXXXXX")"
wine "$@" >"$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit $status
