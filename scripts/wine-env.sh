# Sourced: a Wine prefix of the build's own and an X display for the window, started once
# with detached streams so that Wine's background services never hold a test's pipes.
export WINEPREFIX="$PWD/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# Wine takes its ANSI code page from the locale: this one gives 1252 wherever the tests run, so
# that which names the code page can spell is the same on every machine.
export LANG=C.UTF-8
export LC_ALL=C.UTF-8

start_display() {
  local n=90
  while [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

# Windows unmanaged by a window manager (Xvfb runs none) hide at once instead of after
# Wine's two-second wait for one.
start_wine() {
  mkdir -p "$WINEPREFIX"
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
  replace_ui_font
}

# The window font's face name (Shift-JIS bytes) reaches Wine read in its ANSI code page 1252;
# that name is pointed at IPAGothic, which has the half- and full-width cells of the Windows
# font, so that Latin letters are not drawn by a CJK-only fallback font.
replace_ui_font() {
  local reg="$WINEPREFIX/ui-font.reg"
  python3 -c '
import sys
face = bytes([0x82, 0x6C, 0x82, 0x72, 0x20, 0x83, 0x53, 0x83, 0x56, 0x83, 0x62, 0x83, 0x4E]).decode("cp1252")
text = ("Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n\"%s\"=\"IPAGothic\"\r\n" % face)
open(sys.argv[1], "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
' "$reg"
  wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1 || true
}

stop_wine_and_display() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
