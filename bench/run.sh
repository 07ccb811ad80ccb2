#!/usr/bin/env bash
# The one benchmark command: installs the peers and tools from Debian packages
# (only what is missing), builds the gateway's release build, then starts an
# origin (nginx), two gateways (an identified IP user; a local server) and the
# peers (tinyproxy, squid; microsocks, dante for SOCKS5) on loopback ports of their own, and
# a third gateway with its DNS forwarder beside dnsmasq in network namespaces of their own,
# and prints tables of medians with the ratio to direct and to each peer (bench/harness.py).
#
# Usage: bench/run.sh [harness options]   e.g. --rounds 5 --seconds 10
#   --rounds N        times each measurement runs, targets interleaved (3)
#   --seconds S       seconds per wrk run (5)
#   --idle-seconds S  seconds the 500 idle connections are watched (10)
#   --only 1,2,idle   only these measurements
#   --keep            keep the temporary work folder
#   --perf DIR        perf profiles of the gateways' first round of each row into DIR
# BRINDLEX_BUILD: build folder (default build/release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BRINDLEX_BUILD:-$root/build/release}

# The build's own packages and the peers, each installed only when missing.
"$root/scripts/install-packages.sh" nginx-light wrk tinyproxy squid microsocks dante-server curl openssl python3 \
  dnsmasq-base dnsperf bind9-dnsutils linux-perf
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

# apt may start the peers as system services; the benchmark runs its own.
stop_services() {
  for service in tinyproxy squid danted; do
    if command -v systemctl >/dev/null && systemctl is-active --quiet "$service" 2>/dev/null; then
      ${SUDO-} systemctl stop "$service" || true
    elif [ -x "/etc/init.d/$service" ] && "/etc/init.d/$service" status >/dev/null 2>&1; then
      ${SUDO-} "/etc/init.d/$service" stop >/dev/null || true
    fi
  done
}
stop_services
trap stop_services EXIT

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target brindlex bench_records >/dev/null
mkdir -p "$build/bench"
cc -O2 -Wall -Wextra -pthread -o "$build/bench/splice_relay" "$root/bench/splice_relay.c"

[ "$(ulimit -n)" -ge 8192 ] || ulimit -n 8192 2>/dev/null || true
python3 "$root/bench/harness.py" --brindlex "$build/brindlex" --records "$build/bench/bench_records" \
  --splice-relay "$build/bench/splice_relay" "$@"
