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
bin=${BRINDLEX_BIN:-$root/build/release/brindlex}
if [ ! -x "$bin" ]; then
  cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF >/dev/null
  cmake --build "$root/build/release" --target brindlex >/dev/null
fi
for tool in nginx wrk python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-packages.sh)"; exit 1; }
done

work=$(mktemp -d /tmp/brindlex-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_port() {
  for _ in $(seq 500); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.01
  done
  echo "nothing listens on port $1"; exit 1
}

origin=$(free_port)
mkdir -p "$work/www"
head -c 1024 /dev/urandom >"$work/www/1k.bin"
head -c $((10 * 1024 * 1024)) /dev/urandom >"$work/www/10m.bin"
cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/body;
  sendfile on;
  server { listen 127.0.0.1:$origin; root $work/www; }
}
CONF
nginx -p "$work" -e "$work/nginx-error.log" -c "$work/nginx.conf" &
pids+=($!)
wait_port "$origin"

gateway=$(free_port)
"$root/scripts/lay-out-home.sh" "$work/home"
printf '[System]\r\nHttpPort=%s\r\nLocalHosts=127.0.0.1\r\n' "$gateway" >"$work/home/Brindlex.ini"
BRINDLEX_HOME="$work/home" BRINDLEX_HEADLESS=1 "$bin" >"$work/gateway.log" 2>&1 &
pids+=($!)
wait_port "$gateway"

# wrk against a port; prints "requests-per-second".
run_wrk() {  # port path connections host-header
  local out
  out=$(wrk -t1 -c"$3" -d"${seconds}s" -H "Connection: close" -H "Host: $4" "http://127.0.0.1:$1$2")
  if echo "$out" | grep -q "Non-2xx"; then echo "$out" >&2; echo "error responses" >&2; exit 1; fi
  echo "$out" | awk '/^Requests\/sec:/ { print $2 }'
}

printf '%-8s %-7s %12s %10s %8s\n' object path "requests/s" "MB/s" ratio
for spec in "1k.bin 1024 16" "10m.bin 10485760 2"; do
  read -r name size connections <<<"$spec"
  direct=$(run_wrk "$origin" "/$name" "$connections" "127.0.0.1:$origin")
  proxied=$(run_wrk "$gateway" "/$name" "$connections" "127.0.0.1:$origin")
  for row in "direct $direct" "proxied $proxied"; do
    read -r path rps <<<"$row"
    awk -v n="$name" -v p="$path" -v r="$rps" -v s="$size" -v d="$direct" \
      'BEGIN { printf "%-8s %-7s %12.1f %10.1f %7.2f\n", n, p, r, r * s / 1048576, r / d }'
  done
done
