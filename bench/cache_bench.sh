#!/usr/bin/env bash
# Throughput of the HTTP cache: a 10 KB object fetched through the gateway as
# a cache hit (the same URL again and again) and as a cache miss (a new URL
# every time, each fetched from nginx and stored), against the same object
# fetched from nginx directly. One request per connection ("Connection:
# close"), as the gateway always answers; and, for comparison, the relay
# with the cache left out. Prints requests per second and the ratio to the
# direct fetch.
#
# Usage: bench/cache_bench.sh [seconds per run, default 5]
# BRINDLEX_BIN names the gateway executable (default: a release build, made
# when missing). Needs nginx, wrk, curl and python3; everything stays on
# 127.0.0.1 and in a temporary folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
. "$root/bench/lib.sh"
bench_build
bench_need nginx wrk curl python3

origin=$(free_port)
mkdir -p "$work/www"
head -c 10240 /dev/urandom >"$work/www/10k.bin"
start_nginx "$origin" "expires 1h;"

# Caching on for the local origin; URLs with a query may be stored (the
# misses); the cache may grow to 50 MB before the cache thread evicts.
gateway=$(free_port)
start_gateway "$gateway" $'LocalHosts=127.0.0.1\r\nEnableCach=1\r\nCachLocalHosts=1\r\nCachGetWithPar=1\r\nCachSizeMax=50\r\n'

# A new URL for every request: /10k.bin?miss=1, ?miss=2, ...
cat >"$work/miss.lua" <<'LUA'
local n = 0
request = function()
  n = n + 1
  return wrk.format(nil, "/10k.bin?miss=" .. n)
end
LUA

run_wrk() {  # port path host-header [script] [extra header]
  local out
  out=$(wrk -t1 -c16 -d"${seconds}s" -H "Connection: close" -H "Host: $3" ${4:+-s "$4"} ${5:+-H "$5"} \
    "http://127.0.0.1:$1$2")
  if echo "$out" | grep -q "Non-2xx"; then echo "$out" >&2; echo "error responses" >&2; exit 1; fi
  echo "$out" | awk '/^Requests\/sec:/ { print $2 }'
}

# Warm the hit and make sure it is one: a cached answer carries an Age line.
host="127.0.0.1:$origin"
curl -s -o /dev/null -x "http://127.0.0.1:$gateway" "http://$host/10k.bin"
curl -s -D - -o /dev/null -x "http://127.0.0.1:$gateway" "http://$host/10k.bin" | grep -qi '^Age:' ||
  { echo "the second fetch was not a cache hit"; exit 1; }

direct=$(run_wrk "$origin" /10k.bin "$host")
hit=$(run_wrk "$gateway" /10k.bin "$host")
miss=$(run_wrk "$gateway" /10k.bin "$host" "$work/miss.lua")
# The same relay with the cache left out (the request forbids storing), to
# show what looking up and storing cost.
uncached=$(run_wrk "$gateway" /10k.bin "$host" "$work/miss.lua" "Cache-Control: no-store")

printf '%-10s %12s %8s\n' fetch "requests/s" ratio
for row in "direct $direct" "cache-hit $hit" "cache-miss $miss" "no-store $uncached"; do
  read -r what rps <<<"$row"
  awk -v w="$what" -v r="$rps" -v d="$direct" 'BEGIN { printf "%-10s %12.1f %8.2f\n", w, r, r / d }'
done
