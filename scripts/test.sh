#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build, then one under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)

echo "== Normal build =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
(cd build && ctest --output-on-failure -j"$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELANTO_SANITIZE=ON
cmake --build build-asan
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure -j"$jobs")
