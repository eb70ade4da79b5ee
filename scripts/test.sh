#!/usr/bin/env bash
# Builds the library and its tests and runs them.
#   scripts/test.sh              warnings as errors, tests in build/
#   scripts/test.sh --sanitize   the same with AddressSanitizer and
#                                UndefinedBehaviorSanitizer, in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build
options=(-DVREN_WERROR=ON -DVREN_BUILD_TESTS=ON)
if [[ "${1:-}" == "--sanitize" ]]; then
  build=build-sanitize
  options+=(-DVREN_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

cmake -S . -B "$build" "${options[@]}"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
