#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs each (or the one named) for the given number of seconds on its seed corpus.
#   scripts/fuzz.sh [seconds] [target]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
seconds=${1:-60}
only=${2:-}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVREN_BUILD_FUZZ=ON -DVREN_BUILD_TESTS=OFF \
  -DVREN_BUILD_EXAMPLES=OFF -DVREN_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)"

status=0
for source in fuzz/fuzz_*.cpp; do
  [[ -e "$source" ]] || continue
  name=$(basename "$source" .cpp)
  [[ -z "$only" || "$only" == "$name" ]] || continue
  corpus=$(mktemp -d)
  [[ -d "fuzz/corpus/$name" ]] && cp -r "fuzz/corpus/$name/." "$corpus/"
  echo "fuzz: $name for ${seconds}s"
  (cd build-fuzz && ASAN_OPTIONS=detect_leaks=1 "./fuzz/$name" -max_total_time="$seconds" -print_final_stats=1 "$corpus") || status=1
  rm -rf "$corpus"
done
exit $status
