#!/usr/bin/env bash
# Installs what is needed, builds under AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every unit and integration test, then runs
# each fuzz target briefly on its seed corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-packages.sh

jobs=$(nproc)
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRINDLEX_SANITIZE=ON
cmake --build build/asan -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd build/asan && ctest --output-on-failure -j "$jobs" --timeout 600)

scripts/fuzz.sh 10
