# Sourced: a Wine prefix of the build's own and an X display for the window, started once
# with detached streams so that Wine's background services never hold a test's pipes.
wine_prefix_base="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wineprefix"
export WINEPREFIX="$wine_prefix_base"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# Wine takes its ANSI code page from the locale: this one gives 1252 wherever the tests run, so
# that which names the code page can spell is the same on every machine.
export LANG=C.UTF-8
export LC_ALL=C.UTF-8

# The script-name tests also run under 932 and 65001, each in a prefix of its own beside the
# main one (build/wineprefix-932, ...). Wine 8 gives a locale without an ANSI code page 65001.
code_page_locale() {
  case "$1" in
    932) echo ja_JP.UTF-8 ;;
    65001) echo hi_IN.UTF-8 ;;
    *) echo C.UTF-8 ;;
  esac
}

# Points WINEPREFIX, LANG and LC_ALL at the prefix and locale of one code page.
use_code_page() {
  local locale
  locale="$(code_page_locale "$1")"
  export LANG="$locale" LC_ALL="$locale"
  if [ "$1" = 1252 ]; then export WINEPREFIX="$wine_prefix_base"; else export WINEPREFIX="$wine_prefix_base-$1"; fi
}

start_display() {
  local n=90
  while [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

# Starts the prefix of each code page given (1252 alone by default) side by side; a prefix
# is made on its first start, under its locale.
started_code_pages=()
start_wine() {
  local code_page pids=()
  for code_page in "${@:-1252}"; do
    (use_code_page "$code_page" && start_prefix "$code_page") &
    pids+=($!)
    started_code_pages+=("$code_page")
  done
  wait "${pids[@]}"
}

# The server is kept until stop_wine_and_display: one that quit when idle would start again,
# with its services, inside a later test. Windows unmanaged by a window manager (Xvfb runs
# none) hide at once instead of after Wine's two-second wait for one.
# Y: is a second letter for drive C:, as subst or a mapped share gives one folder two spellings.
start_prefix() {
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
  [ -e "$WINEPREFIX/dosdevices/y:" ] || ln -s ../drive_c "$WINEPREFIX/dosdevices/y:"
  replace_ui_font "$1"
}

# The window font's face name (Shift-JIS bytes) reaches Wine read in the prefix's ANSI code
# page; that reading is pointed at IPAGothic, which has the half- and full-width cells of the
# Windows font and Latin, Greek and Cyrillic letters besides the Japanese ones. Wine's own
# choice under 65001 has no Latin letters at all, and the window draws file names in any script.
replace_ui_font() {
  local reg="$WINEPREFIX/ui-font.reg"
  python3 -c '
import sys
face = bytes([0x82, 0x6C, 0x82, 0x72, 0x20, 0x83, 0x53, 0x83, 0x56, 0x83, 0x62, 0x83, 0x4E]).decode("cp" + sys.argv[2], "replace")
text = ("Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n\"%s\"=\"IPAGothic\"\r\n" % face)
open(sys.argv[1], "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
' "$reg" "$1"
  wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1 || true
}

# Each prefix that start_wine started is stopped by its own wineserver, and gone before the
# next start.
stop_wine_and_display() {
  local code_page
  for code_page in "${started_code_pages[@]}"; do
    (use_code_page "$code_page" && wineserver -k >/dev/null 2>&1 && wineserver -w) || true
  done
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
