#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number
# of seconds (default 60) on its corpus. A crash fails the run and leaves the
# input in <build dir>/artifacts/.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
#   TARGET names a target without its "_fuzz" ending (default: every target).
# BRINDLEX_FUZZ_BUILD: build folder (default build/fuzz).
# BRINDLEX_FUZZ_JOBS: parallel compile jobs (default: the number of cores).
# BRINDLEX_WERROR=ON: warnings are errors (as in scripts/test.sh).
# BRINDLEX_FUZZ_SKIP_BUILD=1: run what the build folder holds (for several
# runs side by side on one build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-60}
shift || true
build=${BRINDLEX_FUZZ_BUILD:-build/fuzz}
jobs=${BRINDLEX_FUZZ_JOBS:-$(nproc)}

if [ "${BRINDLEX_FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DBRINDLEX_FUZZ=ON \
    -DBRINDLEX_WERROR="${BRINDLEX_WERROR:-OFF}" >/dev/null
  cmake --build "$build" -j "$jobs"
fi
mkdir -p "$build/artifacts"
if [ "$#" -gt 0 ]; then
  targets=()
  for name in "$@"; do targets+=("$build/fuzz/${name}_fuzz"); done
else
  targets=("$build"/fuzz/*_fuzz)
fi
for target in "${targets[@]}"; do
  [ -x "$target" ] || { echo "no fuzz target $target"; exit 1; }
  name=$(basename "$target" _fuzz)
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  echo "fuzzing $name for ${seconds}s"
  log=$build/$name.log
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$name-" "$corpus" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz target $name failed"
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$log" | sed "s/^/$name /" || true
done
