#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test:
#   1. the Release build (what a packager builds) with all ctest labels (unit, integration, e2e, browser, gui),
#   2. the unit and integration tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
#   3. the unit and integration tests again under ThreadSanitizer,
#   4. the libFuzzer targets for a short run each (clang build).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${VELLORAN_JOBS:-$(nproc)}
# Build folders: build, build-asan, build-tsan and build-fuzz; VELLORAN_BUILD_DIR=<dir> uses
# <dir>, <dir>-asan, <dir>-tsan and <dir>-fuzz instead (keeps parallel runs apart).
build=${VELLORAN_BUILD_DIR:-build}

bash scripts/install-deps.sh

echo "=== build (Release: the optimisation a packager uses)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLORAN_WERROR=ON -DVELLORAN_BUILD_NUMBER="${VELLORAN_BUILD_NUMBER:-0}"
cmake --build "$build" -j "$jobs"

echo "=== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B "$build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLORAN_SANITIZE=ON -DVELLORAN_WERROR=ON -DVELLORAN_BENCH=OFF
cmake --build "$build-asan" -j "$jobs"

echo "=== build (ThreadSanitizer)"
cmake -S . -B "$build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLORAN_TSAN=ON -DVELLORAN_WERROR=ON -DVELLORAN_BENCH=OFF
cmake --build "$build-tsan" -j "$jobs"

echo "=== build (libFuzzer targets, clang)"
CC=clang CXX=clang++ cmake -S . -B "$build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELLORAN_FUZZ=ON -DVELLORAN_WERROR=ON -DVELLORAN_TESTS=OFF -DVELLORAN_BENCH=OFF
cmake --build "$build-fuzz" -j "$jobs" --target velloran_fuzzers

status=0
echo "=== tests"
ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=1
echo "=== tests under AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$build-asan" --output-on-failure -j "$jobs" -L 'unit|integration' || status=1
echo "=== tests under ThreadSanitizer"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir "$build-tsan" --output-on-failure -j "$jobs" -L 'unit|integration' || status=1
echo "=== fuzz targets"
ctest --test-dir "$build-fuzz" --output-on-failure -j "$jobs" || status=1
exit $status
