#!/usr/bin/env bash
# What a console that never reads costs the gateway: 1 KB requests of an
# identified user through the proxy (one monitor line each) as fast as wrk
# sends them, first with no console attached, then with one that logged in on
# the local socket and reads nothing. Prints requests (= monitor lines) per
# second, the gateway's resident memory after each run and its peak, and the
# ratio of the rates with and without the console.
#
# Usage: bench/console_load.sh [seconds per run, default 10]
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
start_nginx "$origin"

gateway=$(free_port)
"$root/scripts/lay-out-home.sh" "$work/home"
printf '[System]\r\nHttpPort=%s\r\nEnableLoopbackTargets=1\r\nMaxConnectionsPerAddress=1000\r\n' "$gateway" \
  >"$work/home/Brindlex.ini"
BRINDLEX_HOME="$work/home" "$bench_bin" user add 127.0.0.1 --ip --name Bench >/dev/null
BRINDLEX_HOME="$work/home" "$bench_bin" >/dev/null 2>&1 &
gateway_pid=$!
bench_track $gateway_pid
wait_port "$gateway"

rss() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$gateway_pid/status"; }

run_wrk() {
  wrk -t2 -c16 -d"${seconds}s" -H "Connection: close" -H "Host: 127.0.0.1:$origin" \
    "http://127.0.0.1:$gateway/1k.bin" | awk '/^Requests\/sec:/ { print $2 }'
}

baseline=$(run_wrk)
baseline_rss=$(rss VmRSS)

# A console that says hello on the local socket, with a receive buffer as
# small as the system allows, and then never reads; it pings as a console
# does, so the gateway keeps it.
python3 - "$work/home/brindlex.sock" >"$work/console.log" 2>&1 <<'PY' &
import socket, struct, sys, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
s.connect(sys.argv[1])
payload = b"BRXA" + struct.pack(">H", 1) + struct.pack(">I", 0)
s.sendall(struct.pack(">I", len(payload) + 1) + bytes([1]) + payload)
print("hello sent", flush=True)
while True:
    time.sleep(10)
    s.sendall(struct.pack(">I", 1) + bytes([9]))
PY
bench_track $!
sleep 1
grep -q "hello sent" "$work/console.log" || { cat "$work/console.log"; exit 1; }
loaded=$(run_wrk)
loaded_rss=$(rss VmRSS)
# Runs as long again, past the minute a silent console would be given: the
# queue's bound holds the memory.
for _ in $(seq "${BRINDLEX_BENCH_RUNS:-6}"); do
  again=$(run_wrk)
  again_rss=$(rss VmRSS)
  echo "  then $again lines/s, RSS $again_rss KB"
done
peak=$(rss VmHWM)

printf '%-28s %12s %12s\n' case "lines/s" "RSS (KB)"
printf '%-28s %12s %12s\n' "no console" "$baseline" "$baseline_rss"
printf '%-28s %12s %12s\n' "one that never reads" "$loaded" "$loaded_rss"
printf '%-28s %12s %12s\n' "the same, the last run" "$again" "$again_rss"
echo "peak RSS: $peak KB; ratio: $(python3 -c "print(f'{$loaded / $baseline:.3f}')")"
