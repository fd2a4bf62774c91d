#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB), checks it with lintian (errors and hardening tags
# fail, warnings are shown) and its two programs with hardening-check, and tries it on a fresh
# Debian 12 made with debootstrap: installs it there with `apt-get install ./twinrake_*.deb`,
# starts both programs, purges it again and checks that nothing of it stays. Needs root (or
# sudo) and Debian's mirror; takes a few minutes, most of them debootstrap's.
#
# Environment: TWINRAKE_BUILD_PACKAGE (build folder, relative to the repository or absolute;
# default build-package), TWINRAKE_DEBIAN_MIRROR (default: the mirror this machine's apt uses),
# TWINRAKE_RECOMMENDS=1 (install the package with its dependencies' recommendations, as apt
# does by default; without, the test shows that the package's own dependencies suffice),
# TWINRAKE_JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build=${TWINRAKE_BUILD_PACKAGE:-build-package}
case "$build" in /*) ;; *) build="$repo/$build" ;; esac
jobs=${TWINRAKE_JOBS:-2}

say() { echo "== $*"; }
fail() { echo "test-package: $*" >&2; exit 1; }

as_root=""
[ "$(id -u)" -ne 0 ] && as_root="sudo"

tools/install-deps.sh package

say "Package build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTWINRAKE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs"
rm -f "$build"/twinrake_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/twinrake_*.deb)
[ -f "$deb" ] || fail "cpack made no package"
echo "$(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"

say "lintian"
lintian_status=0
lintian --fail-on error --display-info "$deb" >"$build/lintian.log" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$build/lintian.log" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors (status $lintian_status)"
# Its hardening tags are only informational, but the package is meant to have none.
! grep -q ': hardening-' "$build/lintian.log" || fail "lintian reports a hardening gap"
echo "No hardening-* tags"

say "hardening-check on the packaged programs"
unpacked="$build/unpacked"
rm -rf "$unpacked"
dpkg-deb -x "$deb" "$unpacked"
# Debian 12's glibc start files (Scrt1.o, crti.o, crtn.o) carry no IBT/SHSTK note, so the
# linker leaves it off every program linked here, Debian's own too (hardening-check
# /usr/bin/dpkg). -fcf-protection is checked on the objects the programs are linked from.
for program in twinrake twinrake-find; do
  hardening-check --nocfprotection "$unpacked/usr/bin/$program" ||
    fail "hardening-check finds a gap in $program"
done
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  objects=$(find "$build" -name debian12 -prune -o -name '*.o' -print)
  [ -n "$objects" ] || fail "no object files in $build"
  unprotected=$(for object in $objects; do
    readelf -n "$object" | grep -q 'x86 feature: IBT, SHSTK' || echo "$object"
  done)
  [ -z "$unprotected" ] || fail "built without control-flow protection: $unprotected"
  echo "Control flow integrity: all $(wc -l <<<"$objects") objects carry IBT and SHSTK"
fi

# The archive this machine's apt uses (one-line or deb822 sources), not its security one.
mirror=${TWINRAKE_DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources 2>/dev/null |
    sed -n -E 's/^deb([[:space:]]+\[[^]]*\])?[[:space:]]+([^[:space:]]+).*/\2/p; s/^URIs:[[:space:]]*//p' |
    tr ' ' '\n' | grep -E '^https?://.*/debian/?$' | head -1 || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}

root="$build/debian12"
cleanup() {
  if mountpoint -q "$root/proc" 2>/dev/null; then $as_root umount "$root/proc"; fi
  # --one-file-system: never reach into anything still mounted below the chroot.
  [ -d "$root" ] && $as_root rm -rf --one-file-system "$root"
  return 0
}
trap cleanup EXIT
cleanup

say "Fresh Debian 12 from $mirror"
$as_root debootstrap --variant=minbase bookworm "$root" "$mirror" >"$build/debootstrap.log" 2>&1 ||
  fail "debootstrap failed (see $build/debootstrap.log)"
$as_root mount -t proc proc "$root/proc"
$as_root cp /etc/resolv.conf "$root/etc/resolv.conf"
$as_root cp "$deb" "$root/tmp/"
in_root() { $as_root chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

say "apt-get install ./$(basename "$deb")"
recommends="--no-install-recommends"
[ "${TWINRAKE_RECOMMENDS:-}" = 1 ] && recommends=""
in_root apt-get update -q >/dev/null
in_root sh -c "cd /tmp && apt-get install -y -q $recommends ./twinrake_*.deb" \
  >"$build/apt-install.log" 2>&1 || fail "the install failed (see $build/apt-install.log)"
tail -n 3 "$build/apt-install.log"

say "the completions where bash, zsh and fish read them"
for file in usr/share/bash-completion/completions/twinrake-find \
  usr/share/zsh/vendor-completions/_twinrake-find \
  usr/share/fish/vendor_completions.d/twinrake-find.fish; do
  dpkg-deb -c "$deb" | awk '{print $6}' | grep -q -x "./$file" || fail "the package lacks /$file"
done

say "twinrake-find on a small tree"
in_root sh -c 'mkdir -p /tmp/tree/sub && printf same >/tmp/tree/a && printf same >/tmp/tree/sub/b &&
               printf other >/tmp/tree/c'
set +e
found=$(in_root twinrake-find /tmp/tree)
status=$?
set -e
echo "$found"
[ "$status" -eq 0 ] || fail "twinrake-find ended with status $status"
grep -q -x /tmp/tree/a <<<"$found" && grep -q -x /tmp/tree/sub/b <<<"$found" &&
  ! grep -q /tmp/tree/c <<<"$found" || fail "twinrake-find did not print the one group"

say "twinrake offscreen: still running after 5 s, so the window is up and waiting"
set +e
in_root sh -c 'mkdir -p -m 0700 /tmp/runtime &&
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/runtime exec timeout 5 twinrake'
status=$?
set -e
[ "$status" -eq 124 ] || fail "twinrake ended with status $status within 5 s"

# A display number that no X server of this machine serves (the chroot shares its network).
for n in $(seq 200 299); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
say "twinrake on the unserved display :$n: one line, status 1"
set +e
said=$(in_root env DISPLAY=":$n" twinrake 2>&1)
status=$?
set -e
echo "$said"
[ "$status" -eq 1 ] && [ "$(wc -l <<<"$said")" -eq 1 ] || fail "twinrake ended with status $status"

say "apt-get purge twinrake"
in_root apt-get purge -y -q twinrake >"$build/apt-purge.log" 2>&1 ||
  fail "the purge failed (see $build/apt-purge.log)"
left=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' |
  while read -r file; do [ -e "$root$file" ] && echo "$file"; done || true)
[ -z "$left" ] || fail "left behind: $left"
if in_root dpkg-query -W -f '${Status}' twinrake 2>/dev/null | grep -q 'ok installed'; then
  fail "twinrake is still installed"
fi
say "Package test passed"
