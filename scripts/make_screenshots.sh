#!/usr/bin/env bash
# Draws the screens through the Windows tests and saves them as PNG under docs/.
# Run after ./test.sh (or a build of build/windows); needs /usr/bin/convert (imagemagick).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
start_display
start_wine
trap stop_wine_and_display EXIT
(cd build/windows && wine ./win_tests.exe --gtest_filter='Screen.InstructionsAndResults:Screen.AboutScreen:Window.CleansThreeDroppedFilesInDropOrder' </dev/null)
mkdir -p docs
for name in instructions result about window-after-drop; do
  /usr/bin/convert "build/windows/screens/$name.bmp" "docs/screen-$name.png"
done
ls -l docs/screen-*.png
