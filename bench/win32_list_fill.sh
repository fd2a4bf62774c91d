#!/usr/bin/env bash
# Builds win32_list_fill.exe (x86_64, mingw-w64) with the program's own Win32 window backend and
# runs it under wine64 on an X display (its own Xvfb when none is set): times filling a list
# box line by line and in one batch with BY_LINE_LINES lines, then in one batch with LINES
# lines, RUNS times each. Line by line is left out at LINES: under Wine here it takes minutes
# for 20,000 lines. Wine is not Windows: the figures compare the two ways under Wine, they do
# not tell what Windows itself takes.
#
# Environment: LINES (default 200000), BY_LINE_LINES (default 10000), RUNS (default 3), WORK
# (default /tmp/twinrake-win32-fill: the program and a Wine prefix of its own).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(dirname "$here")"
work="${WORK:-/tmp/twinrake-win32-fill}"
lines="${LINES:-200000}"
runs="${RUNS:-3}"
by_line="${BY_LINE_LINES:-10000}"
mkdir -p "$work"

x86_64-w64-mingw32-g++ -std=c++20 -O2 -finput-charset=UTF-8 -fexec-charset=CP1252 \
  -D_WIN32_WINNT=0x0600 -DWINVER=0x0600 -D_WIN32_IE=0x0600 -I"$source_dir/src" \
  "$here/win32_list_fill.cpp" "$source_dir/src/platform/win32/window_win32.cpp" \
  -static -static-libgcc -static-libstdc++ -luser32 -lgdi32 -lcomctl32 \
  -o "$work/win32_list_fill.exe"

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
xvfb_pid=""
cleanup() {
  WINEPREFIX="$work/prefix" "$(dirname "$wine")/wineserver" -k >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 160); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      break
    fi
  done
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX" ]; then
  "$wine" wineboot -i >"$work/wineboot.log" 2>&1
  "$(dirname "$wine")/wineserver" -w
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
fi
echo "Wine $("$wine" --version 2>/dev/null || true) (Wine is not Windows)"
"$wine" "$work/win32_list_fill.exe" "$by_line" "$runs" both
"$wine" "$work/win32_list_fill.exe" "$lines" "$runs" batch
