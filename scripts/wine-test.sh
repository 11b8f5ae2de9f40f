#!/usr/bin/env bash
# The Windows tests' emulator: Wine in the prefix and locale of the code page that
# BRINQ_CODE_PAGE names (1252 when unset). The prefix must be running already (start_wine in
# wine-env.sh): one made or started from inside ctest would hold its pipes and hang the run.
source "$(dirname "$0")/wine-env.sh"
use_code_page "${BRINQ_CODE_PAGE:-1252}"
if [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
  echo "no Wine prefix at $WINEPREFIX: run ./test.sh, or start_wine ${BRINQ_CODE_PAGE:-1252} from scripts/wine-env.sh" >&2
  exit 1
fi
exec wine "$@"
