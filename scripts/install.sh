#!/usr/bin/env bash
# Installs the gateway as a system service:
#   /usr/local/bin/brindlex                    the executable
#   /usr/local/share/brindlex/                 installation data (wwwroot, Forms, Brindlex.ini)
#   /usr/local/lib/systemd/system/brindlex.service
#   /usr/local/lib/sysusers.d/brindlex.conf    the system user brindlex
#   /var/lib/brindlex/                         the program folder, owned by brindlex
# Running it again updates the executable, the data and the unit, and keeps
# the program folder's files (configuration, logs, cache, edited pages).
#
# Usage: scripts/install.sh [--binary PATH]
#   --binary PATH  install this executable instead of building a release build
# DESTDIR=/some/root installs under that root instead (for packaging and
# tests): no user is created, nothing is chowned, systemd is not told.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${DESTDIR:-}

binary=
if [ "${1:-}" = --binary ]; then
  binary=${2:?--binary needs a path}
fi
if [ -z "$binary" ]; then
  "$root/scripts/install-packages.sh" --build-only
  cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF >/dev/null
  cmake --build "$root/build/release" --target brindlex
  binary=$root/build/release/brindlex
fi

share=$dest/usr/local/share/brindlex
home=$dest/var/lib/brindlex
install -D -m 0755 "$binary" "$dest/usr/local/bin/brindlex"
mkdir -p "$dest/usr/local/lib/systemd/system"
sed 's|@BRINDLEX_BINDIR@|/usr/local/bin|g' "$root/packaging/brindlex.service.in" \
  >"$dest/usr/local/lib/systemd/system/brindlex.service"
chmod 0644 "$dest/usr/local/lib/systemd/system/brindlex.service"
install -D -m 0644 "$root/packaging/brindlex.sysusers" "$dest/usr/local/lib/sysusers.d/brindlex.conf"
# The data is replaced whole, so a page removed from data/ goes too.
rm -rf "$share"
mkdir -p "$share"
cp -r "$root/data/." "$share/"
find "$share" -type d -exec chmod 0755 {} +
find "$share" -type f -exec chmod 0644 {} +

# The program folder: laid out from the data, keeping what is there.
"$root/scripts/lay-out-home.sh" "$home" "$share"
chmod 0750 "$home"

if [ -z "$dest" ]; then
  if ! getent passwd brindlex >/dev/null; then
    useradd --system --home-dir /var/lib/brindlex --no-create-home --shell /usr/sbin/nologin \
      --comment "Brindlex gateway" brindlex
  fi
  chown -R brindlex:brindlex /var/lib/brindlex
  if [ -d /run/systemd/system ]; then
    systemctl daemon-reload
    echo "installed; start it with: systemctl enable --now brindlex"
  fi
fi
