#!/usr/bin/env bash
# How twinrake-find's time grows from one tree to a larger one: runs on the two trees
# alternate, so that whatever the machine does meanwhile falls on both alike; prints each run
# and the medians' ratio.
#
#   bench/growth.sh SMALL_TREE LARGE_TREE [RUNS]
#
# Environment (all optional):
#   FIND   the twinrake-find to time (default: the one bench/run.sh builds,
#          /tmp/build-bench/twinrake-find)
#   COLD   1: empty the page cache before every run (as root)
# One run of each tree comes first and is not counted: it brings the trees into memory (and
# shows how far the machine had paged them out).
set -euo pipefail

[ $# -ge 2 ] || { sed -n '5p' "$0" | sed 's/^# *//' >&2; exit 2; }
small="$1"
large="$2"
runs="${3:-5}"
find_bin="${FIND:-/tmp/build-bench/twinrake-find}"
[ -x "$find_bin" ] ||
  { echo "growth.sh: no $find_bin (run bench/run.sh once, or set FIND)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "growth.sh: /usr/bin/time is missing (tools/install-deps.sh bench)" >&2; exit 1; }

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

# One run: wall, user, system seconds and peak KiB, appended to $out/NAME.
run() {
  local name="$1" tree="$2"
  if [ "${COLD:-0}" = 1 ]; then
    sync
    echo 3 >/proc/sys/vm/drop_caches
  fi
  /usr/bin/time -f "%e %U %S %M" -o "$out/last" "$find_bin" -q "$tree" >"$out/groups"
  cat "$out/last" >>"$out/$name"
  printf '%-6s %s\n' "$name" "$(cat "$out/last")"
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

files_small=$(find "$small" -type f | wc -l)
files_large=$(find "$large" -type f | wc -l)
echo "small: $small ($files_small files); large: $large ($files_large files); runs: $runs"
echo "run    wall user system peak-KiB"
run first "$small" && run first "$large"
rm -f "$out/first"
for ((k = 0; k < runs; k++)); do
  run small "$small"
  run large "$large"
done

# Column N (1 wall, 2 user, 3 system, 4 peak) of a tree's runs, their median.
column() { cut -d' ' -f"$2" "$out/$1" | median; }

awk -v s="$(column small 1)" -v l="$(column large 1)" -v su="$(column small 2)" \
  -v lu="$(column large 2)" -v ss="$(column small 3)" -v ls="$(column large 3)" \
  -v sm="$(column small 4)" -v lm="$(column large 4)" -v fs="$files_small" -v fl="$files_large" \
  'BEGIN {
     printf "median wall %.2f s -> %.2f s: %.2f times for %.2f times the files\n", s, l, l / s, fl / fs
     printf "median user %.2f -> %.2f s (%.2f times), system %.2f -> %.2f s (%.2f times)\n",
            su, lu, lu / su, ss, ls, ls / ss
     printf "median peak %.1f -> %.1f MiB, %.1f -> %.1f bytes a file\n",
            sm / 1024, lm / 1024, sm * 1024 / fs, lm * 1024 / fl
   }'
