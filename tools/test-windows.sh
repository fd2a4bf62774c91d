#!/usr/bin/env bash
# Builds the Windows program twice with mingw-w64 (i686: what ships, compiled and linked only;
# x86_64: what the tests run), checks that Twinrake.exe needs no DLL beyond the system's and
# carries its icon and version, packs the i686 zip and checks what it holds, and runs the
# Windows tests under wine64 on an X display (its own Xvfb when none is set), in a fresh Wine
# prefix. Exits non-zero on any failure.
#
# Environment: TWINRAKE_BUILD_WIN_X64, TWINRAKE_BUILD_WIN_I686 (build folders, relative to the
# repository or absolute; default build-win-x64 and build-win-i686), TWINRAKE_JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

build_x64=${TWINRAKE_BUILD_WIN_X64:-build-win-x64}
build_i686=${TWINRAKE_BUILD_WIN_I686:-build-win-i686}
jobs=${TWINRAKE_JOBS:-2}
case "$build_x64" in /*) ;; *) build_x64="$repo/$build_x64" ;; esac
case "$build_i686" in /*) ;; *) build_i686="$repo/$build_i686" ;; esac

say() { echo "== $*"; }
fail() { echo "test-windows: $*" >&2; exit 1; }

# Only the system's own DLLs may be imported: no C++ runtime, no pthread DLL beside the program.
check_imports() {
  local objdump=$1 exe=$2 headers dll
  headers=$("$objdump" -p "$exe")
  grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "$exe is not a GUI program"
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | msvcrt.dll) ;;
      *) fail "$exe imports $dll, which is no system DLL" ;;
    esac
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
}

# Icon 1 is exactly data/icons/twinrake.ico (wrestool pads the copy it rebuilds), and the
# version resource names the project's version.
check_resources() {
  local exe=$1 ico=data/icons/twinrake.ico version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$(dirname "$exe")/CMakeCache.txt")
  wrestool -x --type=group_icon --name=1 "$exe" | cmp -s -n "$(stat -c %s "$ico")" - "$ico" ||
    fail "$exe does not carry $ico as icon 1"
  wrestool -x --raw --type=version "$exe" | iconv -c -f UTF-16LE -t UTF-8 | tr -c '[:print:]' '\n' |
    grep -A1 -x ProductVersion | grep -q -x "$version" || fail "$exe has no version $version"
}

say "Windows build, i686 (what ships)"
cmake -S . -B "$build_i686" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTWINRAKE_TESTS=OFF -DTWINRAKE_WERROR=ON >/dev/null
cmake --build "$build_i686" -j"$jobs"
check_imports i686-w64-mingw32-objdump "$build_i686/Twinrake.exe"
check_resources "$build_i686/Twinrake.exe"
say "Windows zip"
rm -f "$build_i686"/Twinrake-*.zip
(cd "$build_i686" && cpack -G ZIP >/dev/null)
zip_files=$(cmake -E tar tf "$build_i686"/Twinrake-*-win32.zip | sed 's|^[^/]*/||' | sort | tr '\n' ' ')
[ "$zip_files" = "LIESMICH.txt README.txt Twinrake.exe twinrake-find.exe " ] ||
  fail "the zip holds: $zip_files"

say "Windows build, x86_64 (what the tests run)"
cmake -S . -B "$build_x64" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTWINRAKE_TESTS=ON -DTWINRAKE_WERROR=ON >/dev/null
cmake --build "$build_x64" -j"$jobs"
check_imports x86_64-w64-mingw32-objdump "$build_x64/Twinrake.exe"
check_resources "$build_x64/Twinrake.exe"

wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then
    wine=$candidate
    break
  fi
done
[ -n "$wine" ] || fail "wine64 is not installed (tools/install-deps.sh test installs it)"
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)

xvfb_pid=""
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -n "$wineserver" ]; then
    "$wineserver" -k >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || fail "Xvfb is not installed (tools/install-deps.sh test installs it)"
  display=""
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      display=$n
      break
    fi
  done
  [ -n "$display" ] || fail "no free X display number"
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$build_x64/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start (see $build_x64/xvfb.log)"
    sleep 0.1
  done
  [ -e "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start (see $build_x64/xvfb.log)"
  export DISPLAY=":$display"
fi

say "Fresh Wine prefix"
export WINEPREFIX="$build_x64/wine-prefix"
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their install prompts would wait forever.
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
"$wine" wineboot -i >"$build_x64/wineboot.log" 2>&1 || fail "wineboot failed (see $build_x64/wineboot.log)"
"$wineserver" -w
# Without a window manager, managed windows wait for one at every hide; unmanaged ones do not.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

# Drive T: is an empty scratch folder; the loop folder holds a link back to itself.
drive="$build_x64/wine-drive-t"
loop="$build_x64/wine-loop"
rm -rf "$drive" "$loop"
mkdir -p "$drive" "$loop/sub"
printf a >"$loop/a.txt"
printf bb >"$loop/sub/b.txt"
ln -s .. "$loop/sub/up"
ln -sfn "$drive" "$WINEPREFIX/dosdevices/t:"
export TWINRAKE_TEST_DRIVE="T:"
export TWINRAKE_LOOP_FOLDER="Z:${loop//\//\\}"

say "Windows tests under wine64 (display $DISPLAY)"
failed=0
for test in window files session alive; do
  exe="$build_x64/tests-win32/win32_${test}_tests.exe"
  log="${exe%.exe}.log"
  echo "-- $(basename "$exe")"
  set +e
  (cd "$(dirname "$exe")" && timeout 300 "$wine" "$exe" --gtest_brief=1) >"$log" 2>&1
  status=$?
  set -e
  # The shell's folder dialog asks every drive for its label; Z: (the Unix root) says no.
  grep -v 'FS volume label and serial are not available' "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "-- $(basename "$exe") FAILED (exit status $status)"
    failed=1
  fi
done

say "twinrake-find.exe under wine64"
find_exe="$build_x64/twinrake-find.exe"
mkdir -p "$drive/find/1" "$drive/find/2"
printf pair >"$drive/find/1/x"
printf pair >"$drive/find/2/y"
run_find_in() {
  local folder=$1
  shift
  set +e
  (cd "$folder" && "$wine" "$find_exe" "$@") >"$build_x64/find.out" 2>"$build_x64/find.err"
  find_status=$?
  set -e
  tr -d '\r' <"$build_x64/find.out" >"$build_x64/find.txt"
}
run_find() { run_find_in "$drive/find" "$@"; }
# An unset "$DIR" in a script must not mean a whole drive.
run_find ""
if [ "$find_status" -ne 64 ] || ! grep -q 'an empty folder name names no folder' "$build_x64/find.err"; then
  echo "-- twinrake-find.exe \"\" ended with $find_status: $(cat "$build_x64/find.err")"
  failed=1
fi
# A relative folder is taken from the current one; every printed path is absolute.
run_find .
if [ "$find_status" -ne 0 ] || [ "$(grep -c -E '^[A-Za-z]:\\(.*\\)?find\\[12]\\[xy]$' "$build_x64/find.txt")" -ne 2 ]; then
  echo "-- twinrake-find.exe . ended with $find_status and printed: $(cat "$build_x64/find.txt")"
  failed=1
fi

# Clean-up: --link makes the copy another name of the kept file, --delete deletes a copy and
# leaves a read-only one, and --reflink is no action Windows has.
act="$drive/act"
mkdir -p "$act/keep" "$act/linked" "$act/gone"
for file in keep/a linked/b gone/c gone/ro; do printf same >"$act/$file"; done
chmod 444 "$act/gone/ro"  # Wine shows it read-only
run_find_in "$act" --reflink keep linked
if [ "$find_status" -ne 64 ] || ! grep -q 'not on this platform' "$build_x64/find.err"; then
  echo "-- twinrake-find.exe --reflink ended with $find_status: $(cat "$build_x64/find.err")"
  failed=1
fi
run_find_in "$act" --link keep linked
if [ "$find_status" -ne 0 ] || [ "$(stat -c %i "$act/keep/a")" != "$(stat -c %i "$act/linked/b")" ] ||
  [ -n "$(find "$act" -name '.twinrake-*')" ]; then
  echo "-- twinrake-find.exe --link ended with $find_status: $(cat "$build_x64/find.txt" "$build_x64/find.err")"
  failed=1
fi
run_find_in "$act" --delete keep gone
if [ "$find_status" -ne 1 ] || [ -e "$act/gone/c" ] || [ ! -e "$act/gone/ro" ] || [ ! -e "$act/keep/a" ] ||
  ! grep -q 'ro: not deleted: write-protected' "$build_x64/find.err"; then
  echo "-- twinrake-find.exe --delete ended with $find_status: $(cat "$build_x64/find.txt" "$build_x64/find.err")"
  failed=1
fi
chmod 644 "$act/gone/ro"
# Without a Recycle Bin the shell would delete for good: the member stays, and says why.
mkdir -p "$act/bin"
printf same >"$act/bin/d"
XDG_DATA_HOME="$build_x64/find.txt/none" run_find_in "$act" --trash keep bin
if [ "$find_status" -ne 1 ] || [ ! -e "$act/bin/d" ] || ! grep -q 'd: not trashed: the trash .*Recycle.Bin' "$build_x64/find.err"; then
  echo "-- twinrake-find.exe --trash without a bin ended with $find_status: $(cat "$build_x64/find.txt" "$build_x64/find.err")"
  failed=1
fi
# The Recycle Bin takes the member; the kept copy stays where it was. Wine keeps it in the host's freedesktop.org trash, here one of its own.
rm -rf "$build_x64/wine-data" && mkdir -p "$build_x64/wine-data"
XDG_DATA_HOME="$build_x64/wine-data" run_find_in "$act" --trash --summary keep bin
if [ "$find_status" -ne 0 ] || [ -e "$act/bin/d" ] || [ ! -e "$act/keep/a" ] ||
  [ "$(cat "$build_x64/wine-data/Trash/files/d" 2>&1)" != same ] ||
  ! grep -q 'moved to the trash' "$build_x64/find.err"; then
  echo "-- twinrake-find.exe --trash ended with $find_status: $(cat "$build_x64/find.txt" "$build_x64/find.err")"
  failed=1
fi

[ "$failed" -eq 0 ] && say "Windows tests passed"
exit "$failed"
