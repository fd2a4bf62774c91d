#!/bin/sh
# The manual page renders as man shows it without a single warning, and it names every long
# option that --help lists. Usage: man_page_test.sh TWINRAKE_FIND PAGE
set -eu
program=$1
page=$2

if ! warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
  man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || [ -n "$warnings" ]; then
  printf '%s\n' "$warnings" >&2
  exit 1
fi

text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page")
options=$("$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || { echo "--help lists no long option" >&2; exit 1; }
missing=0
for option in $options; do
  case "$text" in
    *"$option"*) ;;
    *) echo "$page does not mention $option" >&2; missing=1 ;;
  esac
done
exit "$missing"
