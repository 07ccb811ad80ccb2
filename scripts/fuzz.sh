#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number
# of seconds (default 60) on its corpus. A crash fails the run and leaves the
# input in build/fuzz/artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-60}

cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DBRINDLEX_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$(nproc)"
mkdir -p build/fuzz/artifacts
for target in build/fuzz/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  echo "fuzzing $name for ${seconds}s"
  log=build/fuzz/$name.log
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
      -artifact_prefix=build/fuzz/artifacts/"$name"- "$corpus" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz target $name failed"
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$log" || true
done
