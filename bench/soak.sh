#!/usr/bin/env bash
# Load and soak of the HTTP proxy (bench/soak.py): 500 connections held for
# DURATION seconds (default 600; half slow request heads, half downloads)
# beside 50 requests per second of normal traffic, then 600 connections at
# once; then threads, descriptors and RSS must come back to their baseline
# and every completed request must have its connection log line.
# `--scenario deadline` runs the request head deadline instead: 600 silent
# clients and 100 slow heads against a short HeadTimeout beside one
# legitimate request per second (about a minute; DURATION is not used).
# Not part of the test command: run by hand.
#
# Usage: bench/soak.sh [DURATION] [soak.py options]
# BRINDLEX_BUILD: build folder (default build/release). Needs nginx, python3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BRINDLEX_BUILD:-$root/build/release}
duration=600
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  duration=$1
  shift
fi
for tool in nginx openssl python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool (bench/run.sh installs it)"; exit 1; }
done
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target brindlex bench_records >/dev/null
[ "$(ulimit -n)" -ge 8192 ] || ulimit -n 8192 2>/dev/null || true
exec python3 "$root/bench/soak.py" --brindlex "$build/brindlex" --records "$build/bench/bench_records" \
  --duration "$duration" "$@"
