#!/usr/bin/env bash
# Installs what is missing, builds Twinrake and starts it on the user's display.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh run
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=Release -DTWINRAKE_TESTS=OFF >/dev/null
cmake --build build-run -j"$(nproc)" --target twinrake twinrake-find
exec build-run/src/platform/qt/twinrake
