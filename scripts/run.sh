#!/usr/bin/env bash
# Builds the product, lays it out as the installer would under build/stage, and shows it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
rm -rf build/stage
DESTDIR="$PWD/build/stage" cmake --install build --strip >/dev/null

echo
echo "Built programs (build/bin):"
ls -1 build/bin
echo "Built libraries (build/lib):"
ls -1 build/lib
echo "Installed layout (build/stage):"
(cd build/stage && find . -mindepth 1 | sort)
