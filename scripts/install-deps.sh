#!/usr/bin/env bash
# Installs the Debian packages that are missing for the given purposes: build, samples, bench, fuzz.
set -euo pipefail
packages=()
need() { command -v "$1" >/dev/null 2>&1 || packages+=("${@:2}"); }
need_file() { [ -e "$1" ] || packages+=("${@:2}"); }
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
      need_file /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf fonts-ipafont-gothic ;;
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
[ ${#packages[@]} -eq 0 ] && exit 0
echo "installing: ${packages[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${packages[@]}" >/dev/null
