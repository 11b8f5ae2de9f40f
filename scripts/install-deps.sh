#!/usr/bin/env bash
# Installs the Debian packages that are missing for the given purposes: build, samples, bench, fuzz.
set -euo pipefail
packages=()
need() { command -v "$1" >/dev/null 2>&1 || packages+=("${@:2}"); }
need_file() { [ -e "$1" ] || packages+=("${@:2}"); }
# Wine reads file names in the character set of the locale: the code-page tests' must exist.
locales=()
need_locale() { locale -a 2>/dev/null | grep -qix "${1%%.*}.utf8" || locales+=("$1"); }
for purpose in "$@"; do
  case "$purpose" in
    build)
      need cmake cmake
      need python3 python3
      need g++ g++
      need_file /usr/src/googletest/CMakeLists.txt googletest libgtest-dev
      need x86_64-w64-mingw32-g++-posix mingw-w64
      need wine wine wine64
      need Xvfb xvfb
      need xdpyinfo x11-utils
      need djpeg libjpeg-turbo-progs
      need_file /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf fonts-ipafont-gothic
      need_file /usr/share/i18n/locales/ja_JP locales
      need_locale ja_JP.UTF-8
      need_locale hi_IN.UTF-8 ;;
    samples)
      need /usr/bin/convert imagemagick
      need exiftool libimage-exiftool-perl
      need_file /usr/share/color/icc/ghostscript/srgb.icc libgs-common ;;
    bench)
      need jhead jhead
      need /usr/bin/time time ;;
    fuzz)
      need clang++ clang
      need_file /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a libclang-rt-14-dev ;;
  esac
done
if [ ${#packages[@]} -gt 0 ]; then
  echo "installing: ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${packages[@]}" >/dev/null
fi
for name in "${locales[@]}"; do
  echo "generating locale $name"
  localedef -i "${name%%.*}" -f UTF-8 "$name"
done
