#!/usr/bin/env bash
# Installs what is needed, checks the include layers, builds under
# AddressSanitizer and UndefinedBehaviorSanitizer and runs every unit and
# integration test, builds again under ThreadSanitizer and runs them all
# again, then runs each fuzz target briefly on its seed corpus. Warnings are
# errors in these builds (only here: a user's own build must not break on a
# newer compiler's new warning).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-packages.sh
scripts/check-layers.sh

jobs=$(nproc)
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRINDLEX_SANITIZE=ON -DBRINDLEX_WERROR=ON
cmake --build build/asan -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/sanitizer/lsan.supp}
(cd build/asan && ctest --output-on-failure -j "$jobs" --timeout 600)

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRINDLEX_TSAN=ON -DBRINDLEX_WERROR=ON
cmake --build build/tsan -j "$jobs"
# The integration tests run this build's gateway, which inherits these too: a
# report there ends it with exit code 66, which fails the test
# (tests/integration/harness.cpp), as it fails a test executable.
export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$root/tests/sanitizer/tsan.supp:halt_on_error=1:second_deadlock_stack=1:exitcode=66}
(cd build/tsan && ctest --output-on-failure -j "$jobs" --timeout 600)

BRINDLEX_WERROR=ON scripts/fuzz.sh 10
