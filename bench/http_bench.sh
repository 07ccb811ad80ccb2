#!/usr/bin/env bash
# Throughput of the HTTP proxy: a 1 KB and a 10 MB object fetched from nginx
# on loopback through the gateway and directly, one request per connection
# ("Connection: close", as the gateway always does upstream). Prints requests
# per second, MB/s and the ratio of proxied to direct.
#
# Usage: bench/http_bench.sh [seconds per run, default 10]
# BRINDLEX_BIN names the gateway executable (default: a release build, made
# when missing). Needs nginx, wrk and python3; everything stays on 127.0.0.1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
. "$root/bench/lib.sh"
bench_build
bench_need nginx wrk python3

origin=$(free_port)
mkdir -p "$work/www"
head -c 1024 /dev/urandom >"$work/www/1k.bin"
head -c $((10 * 1024 * 1024)) /dev/urandom >"$work/www/10m.bin"
start_nginx "$origin"

gateway=$(free_port)
start_gateway "$gateway" $'LocalHosts=127.0.0.1\r\n'

# wrk against a port; prints "requests-per-second".
run_wrk() {  # port path connections host-header
  local out
  out=$(wrk -t1 -c"$3" -d"${seconds}s" -H "Connection: close" -H "Host: $4" "http://127.0.0.1:$1$2")
  if echo "$out" | grep -q "Non-2xx"; then echo "$out" >&2; echo "error responses" >&2; exit 1; fi
  echo "$out" | awk '/^Requests\/sec:/ { print $2 }'
}

printf '%-8s %-7s %12s %10s %8s\n' object path "requests/s" "MB/s" ratio
for object in "1k.bin 1024 16" "10m.bin 10485760 2"; do
  read -r name size connections <<<"$object"
  direct=$(run_wrk "$origin" "/$name" "$connections" "127.0.0.1:$origin")
  proxied=$(run_wrk "$gateway" "/$name" "$connections" "127.0.0.1:$origin")
  for row in "direct $direct" "proxied $proxied"; do
    read -r path rps <<<"$row"
    awk -v n="$name" -v p="$path" -v r="$rps" -v s="$size" -v d="$direct" \
      'BEGIN { printf "%-8s %-7s %12.1f %10.1f %7.2f\n", n, p, r, r * s / 1048576, r / d }'
  done
done
