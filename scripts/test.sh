#!/usr/bin/env bash
# Sets up, builds and runs every test: once normally, once under AddressSanitizer and
# UndefinedBehaviorSanitizer; then the fuzz targets once over their seeds. GUI tests use Qt's
# offscreen platform, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# Installed where Debian's packages go, so the package the install test builds is the one shipped.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 120

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPD_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 300

# The fuzz targets are built and run once over their seeds only, so that they cannot rot.
scripts/fuzz.sh --check
