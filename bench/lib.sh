# Shared verbs of the shell benchmarks: a release build, a temporary folder
# that is cleaned up with every process started, free loopback ports, an nginx
# origin and a gateway with its own program folder. Source it after setting
# `root` to the repository's top folder.

bench_bin=${BRINDLEX_BIN:-$root/build/release/brindlex}

# Builds the release gateway when BRINDLEX_BIN names none and it is missing.
bench_build() {
  if [ ! -x "$bench_bin" ]; then
    cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF >/dev/null
    cmake --build "$root/build/release" --target brindlex >/dev/null
  fi
}

bench_need() {  # tool...
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-packages.sh)"; exit 1; }
  done
}

# A temporary folder in $work; everything started with bench_track dies with it.
work=$(mktemp -d /tmp/brindlex-bench-XXXXXX)
bench_pids=()
bench_track() { bench_pids+=("$1"); }
bench_cleanup() {
  for pid in "${bench_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${bench_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap bench_cleanup EXIT

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

# nginx serving $work/www on the port; extra text goes into its server block.
# One worker per core, as a real origin runs (SIGTERM to the master ends them).
start_nginx() {  # port [server-block extras]
  mkdir -p "$work/www"
  cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/body;
  sendfile on;
  server { listen 127.0.0.1:$1; root $work/www; ${2:-} }
}
CONF
  nginx -p "$work" -e "$work/nginx-error.log" -c "$work/nginx.conf" &
  bench_track $!
  wait_port "$1"
}

# The gateway on the port with these further [System] lines (CR LF ended).
start_gateway() {  # port [system-lines]
  "$root/scripts/lay-out-home.sh" "$work/home"
  printf '[System]\r\nHttpPort=%s\r\n%s' "$1" "${2:-}" >"$work/home/Brindlex.ini"
  BRINDLEX_HOME="$work/home" "$bench_bin" >"$work/gateway.log" 2>&1 &
  bench_track $!
  wait_port "$1"
}
