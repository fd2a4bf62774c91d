#!/usr/bin/env bash
# Installs the Debian packages that building and testing Twinrake needs, only those missing.
# Usage: tools/install-deps.sh [run|test|bench|package]
set -euo pipefail

want=(cmake g++ make pkg-config qt6-base-dev libgl-dev libxcb1-dev libxxhash-dev fonts-dejavu-core)
case "${1:-test}" in
  run) want+=(qt6-translations-l10n) ;;
  test) want+=(qt6-translations-l10n libgtest-dev xvfb xauth libxcb-xtest0-dev g++-mingw-w64-i686
        g++-mingw-w64-x86-64 wine64 man-db groff-base python3 desktop-file-utils appstream icoutils
        xfsprogs e2fsprogs bindfs zsh fish) ;;
  # imagemagick: `import`, for bench/window_bench.py --shots.
  bench) want+=(jdupes fdupes rdfind rmlint time xvfb xdotool imagemagick) ;;
  # The Debian package and its checks (tools/test-package.sh: lintian, hardening-check from
  # devscripts, a fresh Debian 12), and the icon's PNG and .ico files (tools/make-icons.sh).
  package) want+=(dpkg-dev file lintian devscripts debootstrap librsvg2-bin icoutils) ;;
  *) echo "usage: $0 [run|test|bench|package]" >&2; exit 1 ;;
esac

missing=()
for package in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
