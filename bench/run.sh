#!/usr/bin/env bash
# Builds Release, makes the benchmark trees and runs every benchmark; prints one report.
#
# Environment (all optional):
#   BENCH_ROOT     folder for the trees (default /tmp/twinrake-bench; about 8 GB)
#   BUILD_DIR      build folder (default /tmp/build-bench)
#   TREES          which trees, of: scan a b c usr (default scan a b c; usr is this machine's
#                  own /usr, which nobody here made)
#   TOOLS          which search programs, of: twinrake-find jdupes fdupes rdfind rmlint
#   RUNS           runs per program and tree, the median is reported (default 5)
#   TIMEOUT        seconds one run may take before it is killed and reported (default 600)
#   REPEAT_LIMIT   a program whose first run took longer than this many seconds is not
#                  repeated (default 120)
#   SCALE          multiplies the trees' file counts, e.g. 0.05 for a quick run (default 1)
#   COLD           1: empty the page cache before every run (as root: sync, then
#                  3 > /proc/sys/vm/drop_caches), as the first search after a boot meets it
#   WINDOW         1: also time the Linux window (add + search, driven under Xvfb) beside
#                  twinrake-find on WINDOW_TREES; TREES= WINDOW=1 runs only that
#   WINDOW_TREES   trees for the window (default b)
#   COMPARE        another twinrake-find to time in the same rounds, e.g. an older build
#   WINDOW_COMPARE another twinrake (Qt) program to time side by side, e.g. an older build
#   WINDOW_SCROLL  1: also time scrolling the list of all files after the add
#   WIN32_FILL     1: also time filling a Win32 list box with 200,000 lines under wine64
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(dirname "$here")"
root="${BENCH_ROOT:-/tmp/twinrake-bench}"
build="${BUILD_DIR:-/tmp/build-bench}"
trees="${TREES-scan a b c}"
window="${WINDOW:-0}"
window_trees="${WINDOW_TREES:-b}"
tools="${TOOLS:-twinrake-find jdupes fdupes rdfind rmlint}"
scale="${SCALE:-1}"

for program in jdupes fdupes rdfind rmlint; do
  case " $tools " in
    *" $program "*)
      command -v "$program" >/dev/null ||
        { echo "run.sh: $program is missing (tools/install-deps.sh bench)" >&2; exit 1; } ;;
  esac
done
[ -x /usr/bin/time ] || { echo "run.sh: /usr/bin/time is missing (tools/install-deps.sh bench)" >&2; exit 1; }
if [ "$window" = 1 ]; then
  for program in Xvfb xdotool; do
    command -v "$program" >/dev/null ||
      { echo "run.sh: $program is missing (tools/install-deps.sh bench)" >&2; exit 1; }
  done
fi

# Two cores are shared with others: at most two compile jobs.
qt=OFF
targets=(scan-bench twinrake-find)
if [ "$window" = 1 ]; then
  qt=ON
  targets+=(twinrake)
fi
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTWINRAKE_QT="$qt" \
  -DTWINRAKE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

mkdir -p "$root"
df -h "$root" >&2
all_trees="$trees"
[ "$window" = 1 ] && all_trees="$trees $window_trees"
made_trees=$(tr ' ' '\n' <<<"$all_trees" | grep -v -x -e usr -e '' | tr '\n' ' ' || true)
if [ -n "${made_trees// /}" ]; then
  # shellcheck disable=SC2086  # the tree lists are meant to split
  python3 "$here/make_tree.py" --root "$root" --scale "$scale" $made_trees >/dev/null
fi
cold=()
if [ "${COLD:-0}" = 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "run.sh: COLD=1 empties the page cache, which needs root" >&2; exit 1; }
  cold=(--cold)
fi

if [ -n "${trees// /}" ]; then
  python3 "$here/measure.py" --build "$build" --root "$root" --scale "$scale" \
    --runs "${RUNS:-5}" --timeout "${TIMEOUT:-600}" --repeat-limit "${REPEAT_LIMIT:-120}" \
    --trees "$trees" --tools "$tools" "${cold[@]}" \
    ${COMPARE:+--compare "before=$COMPARE"}
fi

if [ "$window" = 1 ]; then
  programs=(--program "twinrake=$build/src/platform/qt/twinrake")
  [ -n "${WINDOW_COMPARE:-}" ] && programs+=(--program "compare=$WINDOW_COMPARE")
  scroll=()
  [ "${WINDOW_SCROLL:-0}" = 1 ] && scroll=(--scroll)
  for tree in $window_trees; do
    echo
    python3 "$here/window_bench.py" "${programs[@]}" "${scroll[@]}" \
      --find "$build/twinrake-find" --runs "${RUNS:-5}" --timeout "${TIMEOUT:-600}" \
      --tree "$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import make_tree; print(make_tree.tree_dir(sys.argv[2], sys.argv[3], float(sys.argv[4])))' "$here" "$root" "$tree" "$scale")"
  done
fi

if [ "${WIN32_FILL:-0}" = 1 ]; then
  echo
  "$here/win32_list_fill.sh"
fi
