#!/usr/bin/env bash
# Checks by hand (as root, with Debian's mirror reachable) that the packages
# of build/packages/ (scripts/package.sh) install on a clean Debian and give a
# running gateway:
#   1. a minimal Debian bookworm made once with debootstrap in BASE, copied
#      afresh for every run, so each run starts clean;
#   2. apt installs the .debs there, resolving their dependencies;
#   3. the gateway starts as its systemd unit would (systemd does not run in a
#      chroot: the unit's User, Environment, WorkingDirectory and ExecStart
#      are read from the installed unit), in a network namespace of its own so
#      its ports meet nobody else's; it must answer HTTP on its port, and
#      `brindlex --check` must pass;
#   4. where the tree has them: `brindlex status` against the running gateway,
#      its local administration socket, and the console's package;
#   5. a reinstall keeps an edited configuration, a removal keeps the program
#      folder, a purge deletes it.
# Everything runs in a mount and PID namespace of its own: when the script
# ends, every process it started ends too and nothing stays mounted.
#
# Usage: scripts/check-packages.sh [BASE]
#   BASE  where the clean Debian is kept (default: build/debian-base); the
#         working copy is BASE.run, left in place afterwards for a look
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base=$(realpath -m "${1:-$root/build/debian-base}")
run=$base.run
mirror=http://deb.debian.org/debian
port=8080

step() { echo "== $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap, chroot and namespaces need it)"
shopt -s nullglob
gatewayDeb=("$root"/build/packages/brindlex_*.deb)
consoleDeb=("$root"/build/packages/brindlex-console_*.deb)
shopt -u nullglob
[ ${#gatewayDeb[@]} -eq 1 ] || fail "no single build/packages/brindlex_*.deb: run scripts/package.sh first"

if [ ! -e "$base/etc/debian_version" ]; then
  step "debootstrap bookworm into $base"
  "$root/scripts/install-packages.sh" --build-only debootstrap
  rm -rf "$base"
  debootstrap --variant=minbase bookworm "$base" "$mirror"
fi

if [ -z "${BRINDLEX_CHECK_INSIDE:-}" ]; then
  step "fresh copy of the clean root in $run"
  rm -rf "$run"
  cp -a "$base" "$run"
  mkdir -p "$run/debs"
  cp "${gatewayDeb[@]}" "${consoleDeb[@]}" "$run/debs/"
  cp /etc/resolv.conf "$run/etc/resolv.conf"
  export BRINDLEX_CHECK_INSIDE=1
  exec unshare --mount --pid --fork "$root/scripts/check-packages.sh" "$base"
fi

# From here on in the namespaces of our own; /proc shows only our processes.
# (The gateway's phase runs in these too, with a network namespace added.)
if [ "${BRINDLEX_CHECK_PHASE:-}" != gateway ]; then
  mount -t proc proc /proc
  mount -t proc proc "$run/proc"
  mount --rbind /dev "$run/dev"
  mount -t tmpfs tmpfs "$run/run"
  mount -t tmpfs tmpfs "$run/tmp"
fi
inRoot() { chroot "$run" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

# The unit's own words for how the service runs.
unit=$run/usr/lib/systemd/system/brindlex.service
unitValue() { sed -n "s/^$1=//p" "$unit"; }
ReadUnit() {
  user=$(unitValue User)
  group=$(unitValue Group)
  workdir=$(unitValue WorkingDirectory)
  execStart=$(unitValue ExecStart)
  mapfile -t environment < <(unitValue Environment)
  [ "$execStart" = /usr/bin/brindlex ] || fail "ExecStart is $execStart"
}
asService() {
  chroot --userspec="$user:$group" "$run" env -i PATH=/usr/bin:/bin "${environment[@]}" \
    sh -c 'cd "$1" && shift && exec "$@"' sh "$workdir" "$@"
}

if [ "${BRINDLEX_CHECK_PHASE:-}" = gateway ]; then
  ReadUnit
  ip link set lo up
  # A simple command in the background, not the function: its PID is then the
  # gateway's own (chroot, env and sh each exec the next).
  chroot --userspec="$user:$group" "$run" env -i PATH=/usr/bin:/bin "${environment[@]}" \
    sh -c 'cd "$1" && shift && exec "$@"' sh "$workdir" "$execStart" >"$run/tmp/monitor.txt" 2>&1 &
  gateway=$!
  answered=
  for _ in $(seq 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/"; then answered=1; break; fi
    kill -0 $gateway 2>/dev/null || { cat "$run/tmp/monitor.txt"; fail "the gateway ended"; }
    sleep 0.1
  done
  [ -n "$answered" ] || { cat "$run/tmp/monitor.txt"; fail "nothing answers on port $port"; }
  comm=$(cat /proc/$gateway/comm)
  [ "$comm" = brindlex ] || fail "process $gateway is $comm, not the gateway"
  owner=$(chroot "$run" id -nu "$(stat -c %u /proc/$gateway)")
  echo "gateway (pid $gateway) runs as $owner"
  [ "$owner" = "$user" ] || fail "the gateway does not run as $user"
  # 127.0.0.1 is a user (added below, before this phase): his own page.
  status=$(curl -s -o "$run/tmp/page.html" -w "%{http_code}" "http://127.0.0.1:$port/")
  echo "GET http://127.0.0.1:$port/ -> $status, $(grep -o '<title>.*</title>' "$run/tmp/page.html")"
  [ "$status" = 200 ] || fail "the built-in web server answered $status"
  grep -q 'Brindlex: ваша учётная запись' "$run/tmp/page.html" || fail "the page is not the user's own"
  # Through the proxy: a name that resolves nowhere gets the gateway's answer
  # (the namespace has no Internet), counted for the user on the monitor.
  head=$(curl -s -i -x "http://127.0.0.1:$port" http://example.invalid/ | head -1 | tr -d '\r')
  echo "GET http://example.invalid/ through the proxy -> $head"
  grep -q '^HTTP/1\.[01] [45][0-9][0-9]' <<<"$head" || fail "the proxy gave no answer of its own"
  pac=$(curl -s "http://127.0.0.1:$port/proxy.pac")
  grep -q FindProxyForURL <<<"$pac" || fail "no /proxy.pac"
  echo "/proxy.pac: $(grep -m1 -o 'PROXY [^"; ]*' <<<"$pac")"
  echo "-- brindlex status"
  asService "$execStart" status || fail "brindlex status failed"
  [ -S "$run/var/lib/brindlex/brindlex.sock" ] || fail "no administration socket in the program folder"
  echo "administration socket: $(chroot "$run" stat -c '%U:%G %a' /var/lib/brindlex/brindlex.sock)"
  if [ -x "$run/usr/bin/brindlex-console" ]; then
    # The console as an administrator on that machine would start it (root,
    # the installed program folder), on Qt's offscreen platform.
    chroot "$run" env -i PATH=/usr/bin:/bin HOME=/root QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp \
      timeout 5 /usr/bin/brindlex-console >"$run/tmp/console.txt" 2>&1 || true
    grep -q 'Консоль подключилась: пользователь root' "$run/tmp/monitor.txt" ||
      { cat "$run/tmp/console.txt"; fail "the console did not attach"; }
    grep -q 'Консоль отключилась: пользователь root' "$run/tmp/monitor.txt" || fail "the console's leaving is not on the monitor"
    echo "brindlex-console attached over the socket and left"
  fi
  kill -TERM $gateway
  wait $gateway || fail "the gateway ended with $? on SIGTERM"
  echo "-- its monitor"
  cat "$run/tmp/monitor.txt"
  grep -q '^HTTP, User 1, 127.0.0.1, .*example.invalid' "$run/tmp/monitor.txt" ||
    fail "the proxy request is not on the monitor"
  logs=$(find "$run/var/lib/brindlex/Logging" -type f | wc -l)
  [ "$logs" -gt 0 ] || fail "no log in /var/lib/brindlex/Logging"
  echo "Logging/ holds $logs file(s)"
  exit 0
fi

step "apt install ${gatewayDeb[*]##*/} ${consoleDeb[*]##*/}"
export DEBIAN_FRONTEND=noninteractive
inRoot apt-get update -q >/dev/null
debs=()
for deb in "${gatewayDeb[@]}" "${consoleDeb[@]}"; do debs+=("/debs/${deb##*/}"); done
# With systemd installed (not running): the user comes from the sysusers file
# and the unit is enabled as on a real machine.
inRoot env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends systemd "${debs[@]}" |
  grep -E '^(Setting up|The following NEW|  )' || true
version=$(inRoot dpkg-query -W -f '${Version}' brindlex)
echo "installed brindlex $version"
ReadUnit

step "what the package laid out"
inRoot getent passwd brindlex || fail "no user brindlex"
inRoot getent group brindlex >/dev/null || fail "no group brindlex"
# Names as the installed system knows them (the host's may differ).
homeMode=$(inRoot stat -c '%U:%G %a' /var/lib/brindlex)
[ "$homeMode" = "brindlex:brindlex 750" ] || fail "/var/lib/brindlex is $homeMode"
strangers=$(inRoot find /var/lib/brindlex ! -user brindlex)
[ -z "$strangers" ] || fail "not the service's own: $strangers"
for path in Brindlex.ini Logging Cache wwwroot/index.html Forms; do
  [ -e "$run/var/lib/brindlex/$path" ] || fail "/var/lib/brindlex/$path was not laid out"
done
[ -L "$run/etc/systemd/system/multi-user.target.wants/brindlex.service" ] || fail "the unit was not enabled"
verify=$(inRoot systemd-analyze verify /usr/lib/systemd/system/brindlex.service 2>&1) || fail "systemd-analyze: $verify"
[ -z "$verify" ] || fail "systemd-analyze: $verify"
echo "the unit is enabled and systemd-analyze verify accepts it"
inRoot /usr/bin/brindlex --version | grep -qF "($version)" ||
  fail "brindlex --version ($(inRoot /usr/bin/brindlex --version)) is not the package's $version"

step "brindlex --check as $user"
asService "$execStart" --check || fail "brindlex --check found problems"

step "brindlex user add 127.0.0.1 --ip, as $user"
asService "$execStart" user add 127.0.0.1 --ip || fail "the account command failed"

step "the gateway as the service runs it, in a network namespace of its own"
# The gateway and every client of it share one new network namespace: its
# loopback is all they see, and its ports meet nobody else's.
BRINDLEX_CHECK_PHASE=gateway unshare --net "$root/scripts/check-packages.sh" "$base"

if [ ${#consoleDeb[@]} -gt 0 ]; then
  step "the console's package"
  [ -x "$run/usr/bin/brindlex-console" ] || fail "no /usr/bin/brindlex-console"
  [ -e "$run/usr/share/applications/brindlex-console.desktop" ] || fail "no desktop entry"
  missing=$(inRoot ldd /usr/bin/brindlex-console | grep "not found" || true)
  [ -z "$missing" ] || fail "the console lacks libraries: $missing"
  echo "brindlex-console: every library found"
else
  echo "note: no brindlex-console package in build/packages"
fi

step "reinstall, remove, purge"
printf '[System]\r\nEnableHTTP=1\r\nHttpPort=3128\r\n' >"$run/var/lib/brindlex/Brindlex.ini"
rm "$run/var/lib/brindlex/wwwroot/message.html"
inRoot apt-get install -y -q --reinstall "/debs/${gatewayDeb[0]##*/}" >/dev/null
grep -q HttpPort=3128 "$run/var/lib/brindlex/Brindlex.ini" || fail "a reinstall overwrote the settings"
[ -e "$run/var/lib/brindlex/wwwroot/message.html" ] || fail "a reinstall did not restore a missing page"
inRoot apt-get remove -y -q brindlex >/dev/null
[ ! -e "$run/usr/bin/brindlex" ] || fail "the executable stayed after removal"
grep -q HttpPort=3128 "$run/var/lib/brindlex/Brindlex.ini" || fail "a removal lost the settings"
[ -L "$run/etc/systemd/system/multi-user.target.wants/brindlex.service" ] || fail "a removal disabled the unit"
inRoot apt-get purge -y -q brindlex >/dev/null
[ ! -e "$run/var/lib/brindlex" ] || fail "the program folder stayed after a purge"
[ ! -L "$run/etc/systemd/system/multi-user.target.wants/brindlex.service" ] || fail "a purge left the unit enabled"
echo "the packages install, run, reinstall, remove and purge as they should"
