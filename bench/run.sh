#!/usr/bin/env bash
# Builds Release, makes the benchmark trees and runs every benchmark; prints one report.
#
# Environment (all optional):
#   BENCH_ROOT     folder for the trees (default /tmp/twinrake-bench; about 8 GB)
#   BUILD_DIR      build folder (default /tmp/build-bench)
#   TREES          which trees, of: scan a b c (default all)
#   TOOLS          which search programs, of: twinrake-find jdupes fdupes rdfind rmlint
#   RUNS           runs per program and tree, the median is reported (default 5)
#   TIMEOUT        seconds one run may take before it is killed and reported (default 600)
#   REPEAT_LIMIT   a program whose first run took longer than this many seconds is not
#                  repeated (default 120)
#   SCALE          multiplies the trees' file counts, e.g. 0.05 for a quick run (default 1)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(dirname "$here")"
root="${BENCH_ROOT:-/tmp/twinrake-bench}"
build="${BUILD_DIR:-/tmp/build-bench}"
trees="${TREES:-scan a b c}"
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

# Two cores are shared with others: at most two compile jobs.
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTWINRAKE_QT=OFF \
  -DTWINRAKE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target scan-bench twinrake-find >/dev/null

mkdir -p "$root"
df -h "$root" >&2
# shellcheck disable=SC2086  # the tree list is meant to split
python3 "$here/make_tree.py" --root "$root" --scale "$scale" $trees >/dev/null

python3 "$here/measure.py" --build "$build" --root "$root" --scale "$scale" \
  --runs "${RUNS:-5}" --timeout "${TIMEOUT:-600}" --repeat-limit "${REPEAT_LIMIT:-120}" \
  --trees "$trees" --tools "$tools"
