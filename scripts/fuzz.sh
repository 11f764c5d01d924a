#!/usr/bin/env bash
# Fuzzes one target (or all) for a given number of seconds each, with libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer:
#   bash scripts/fuzz.sh fuzz_json_map 600
#   bash scripts/fuzz.sh all 60
# New inputs go to build-fuzz/corpus/<target>; crashes to build-fuzz/findings/<target>.
# A crash input that is fixed belongs in fuzz/corpus/<target> as a regression input.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-all}
seconds=${2:-60}

bash scripts/deps.sh
for package in clang libclang-rt-14-dev; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package"
  fi
done

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELANTO_FUZZ=ON
cmake --build build-fuzz

if [ "$target" = all ]; then
  targets=(fuzz_json_map fuzz_encodings fuzz_settings)
else
  targets=("$target")
fi
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/findings/$t"
  echo "== $t for ${seconds}s =="
  "build-fuzz/bin/$t" -max_total_time="$seconds" -print_final_stats=1 -max_len=4096 \
    -artifact_prefix="build-fuzz/findings/$t/" "build-fuzz/corpus/$t" "fuzz/corpus/$t"
done
