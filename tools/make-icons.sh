#!/usr/bin/env bash
# Draws the icon's PNG sizes and the Windows .ico from data/icons/twinrake.svg. Run it after
# changing the SVG and commit what it writes; builds use the committed files.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh package
icons=data/icons
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$icons/twinrake.svg" -o "$icons/twinrake-$size.png"
done
# The small sizes as bitmaps, which every Windows reads; 256 as PNG, as Vista and later expect.
icotool -c -o "$icons/twinrake.ico" "$icons"/twinrake-{16,24,32,48}.png -r "$icons/twinrake-256.png"
