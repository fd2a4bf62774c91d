#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the Linux build with the
# Qt window (offscreen), the core once more under ASan and UBSan, and the Windows build under
# wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
tools/install-deps.sh test

echo "== Linux build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTWINRAKE_QT=ON -DTWINRAKE_SANITIZE=OFF \
  -DTWINRAKE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build -j"$jobs" --output-on-failure

echo "== Core tests under ASan and UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTWINRAKE_QT=OFF -DTWINRAKE_SANITIZE=ON \
  -DTWINRAKE_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan -j"$jobs" --output-on-failure

if [ -x tools/test-windows.sh ]; then
  echo "== Windows build and tests under wine64"
  tools/test-windows.sh
fi
