#!/usr/bin/env bash
# The install script into a temporary root, twice: the second run leaves
# exactly what the first did (same files, contents and modes), keeps what an
# administrator changed in the program folder, and systemd accepts the unit.
#
# Usage: install_test.sh BRINDLEX_BINARY
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
binary=${1:?usage: install_test.sh BRINDLEX_BINARY}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

snapshot() {  # every path with its type, mode and content hash
  (cd "$1" && find . -printf '%p %y %m\n' | sort && find . -type f -exec sha256sum {} + | sort -k2)
}

DESTDIR=$work/root "$root/scripts/install.sh" --binary "$binary" >/dev/null
snapshot "$work/root" >"$work/first"
for path in usr/local/bin/brindlex usr/local/lib/systemd/system/brindlex.service \
    usr/local/lib/sysusers.d/brindlex.conf usr/local/share/brindlex/wwwroot/message.html \
    var/lib/brindlex/Brindlex.ini var/lib/brindlex/Logging var/lib/brindlex/Cache \
    var/lib/brindlex/wwwroot/messages.txt; do
  [ -e "$work/root/$path" ] || fail "$path was not installed"
done

DESTDIR=$work/root "$root/scripts/install.sh" --binary "$binary" >/dev/null
snapshot "$work/root" >"$work/second"
diff -u "$work/first" "$work/second" || fail "a second run changed the installation"

# An administrator's settings and logs survive a reinstall.
printf '[System]\r\nHttpPort=3128\r\n' >"$work/root/var/lib/brindlex/Brindlex.ini"
touch "$work/root/var/lib/brindlex/Logging/07-12-26-Brindlex.lgs"
DESTDIR=$work/root "$root/scripts/install.sh" --binary "$binary" >/dev/null
grep -q 'HttpPort=3128' "$work/root/var/lib/brindlex/Brindlex.ini" || fail "the settings were overwritten"
[ -e "$work/root/var/lib/brindlex/Logging/07-12-26-Brindlex.lgs" ] || fail "a log was removed"

# systemd's own check of the unit, with the executable where the unit says:
# the temporary root's /usr/local stands in for the machine's in a mount
# namespace of the check's own.
unit=$work/root/usr/local/lib/systemd/system/brindlex.service
out=$(unshare --mount sh -c 'mount --bind "$1/usr/local" /usr/local &&
  systemd-analyze verify /usr/local/lib/systemd/system/brindlex.service' sh "$work/root" 2>&1) ||
  fail "systemd-analyze: $out"
[ -z "$out" ] || fail "systemd-analyze: $out"
for line in 'User=brindlex' 'AmbientCapabilities=CAP_NET_BIND_SERVICE' 'NoNewPrivileges=yes' \
    'ProtectSystem=strict' 'ReadWritePaths=/var/lib/brindlex' 'ProtectHome=yes' 'PrivateTmp=yes' \
    'Restart=on-failure' 'ExecReload=/bin/kill -HUP $MAINPID'; do
  grep -qxF "$line" "$unit" || fail "the unit lacks $line"
done
echo "install: idempotent, settings kept, unit verified"
