#!/usr/bin/env bash
# An attacker address opening connection records as fast as it can and
# flooding the DNS forwarder, beside a legitimate client that fetches a page
# and resolves a name every second (bench/exhaust.py). Runs in a network
# namespace of its own (loopback and a veth pair on whose net the upstream DNS
# address is nobody's), so nothing leaves the machine and port 53 is free.
# Not part of the test command: run by hand, as root.
#
# Usage: bench/exhaust.sh [DURATION] [exhaust.py options]
# BRINDLEX_BUILD: build folder (default build/release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BRINDLEX_BUILD:-$root/build/release}
duration=60
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  duration=$1
  shift
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target brindlex >/dev/null
[ "$(ulimit -n)" -ge 8192 ] || ulimit -n 8192 2>/dev/null || true
exec unshare --net bash -c '
  ip link set lo up
  ip link add d0 type veth peer name d1 && ip addr add 10.99.0.1/24 dev d0 && ip link set d0 up && ip link set d1 up
  exec python3 "$0" "$@"' "$root/bench/exhaust.py" --brindlex "$build/brindlex" --duration "$duration" "$@"
