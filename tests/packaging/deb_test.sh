#!/usr/bin/env bash
# The Debian packages of an already built tree (CPack on the build folder under
# test, nothing rebuilt): each holds exactly what it should with the right
# modes, the gateway's dependencies come from dpkg-shlibdeps and name no Qt
# library, its version is the executable's, the unit names the packaged
# executable, and the maintainer scripts do what they promise when run with
# the system's commands replaced by recorders: a first installation lays the
# program folder out, makes the user and enables and starts the service; an
# upgrade keeps what the administrator changed and restarts the service only;
# a removal stops it; a purge deletes the program folder.
#
# Usage: deb_test.sh BUILD_FOLDER BRINDLEX_BINARY [BRINDLEX_CONSOLE_BINARY]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: deb_test.sh BUILD_FOLDER BRINDLEX_BINARY [BRINDLEX_CONSOLE_BINARY]}
binary=${2:?usage: deb_test.sh BUILD_FOLDER BRINDLEX_BINARY [BRINDLEX_CONSOLE_BINARY]}
console=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

[ -z "$console" ] || [ -x "$console" ] || fail "$console is not built (ninja brindlex-console)"
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
version=$(dpkg-deb -f "$work"/out/brindlex_*.deb Version)
expected="brindlex_${version}_$arch.deb"
[ -n "$console" ] && expected="$expected brindlex-console_${version}_$arch.deb"
made=$(cd "$work/out" && ls -1 ./*.deb | sed 's|^\./||' | sort | xargs)
[ "$made" = "$(xargs -n1 <<<"$expected" | sort | xargs)" ] || fail "packages made: $made; expected: $expected"
gateway=$work/out/brindlex_${version}_$arch.deb

# --- the gateway's package: control fields ----------------------------------
"$binary" --version | grep -qF "($version)" ||
  fail "the package's version $version is not the executable's: $("$binary" --version)"
[ "$(dpkg-deb -f "$gateway" Package)" = brindlex ] || fail "package name $(dpkg-deb -f "$gateway" Package)"
[ "$(dpkg-deb -f "$gateway" Architecture)" = "$arch" ] || fail "architecture $(dpkg-deb -f "$gateway" Architecture)"
depends=$(dpkg-deb -f "$gateway" Depends)
# dpkg-shlibdeps ran: the C library and libcurl (the e-mail reports) are there.
dependencyNames=$(sed -e 's/ *([^)]*)//g' -e 's/, */\n/g' <<<"$depends")
for library in libc6 libcurl4 libstdc++6 passwd procps; do
  grep -qxF "$library" <<<"$dependencyNames" || fail "Depends lacks $library: $depends"
done
! grep -qi qt <<<"$depends" || fail "the gateway's package depends on Qt: $depends"

# --- the gateway's package: files --------------------------------------------
# Every file with its mode and owner, and nothing else.
listing() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort; }
{
  echo "-rwxr-xr-x root/root ./usr/bin/brindlex"
  echo "-rw-r--r-- root/root ./usr/lib/systemd/system/brindlex.service"
  echo "-rw-r--r-- root/root ./usr/lib/sysusers.d/brindlex.conf"
  (cd "$root/data" && find . -type f | sed 's|^\./|-rw-r--r-- root/root ./usr/share/brindlex/|')
} | sort >"$work/expected-files"
listing "$gateway" >"$work/files"
diff -u "$work/expected-files" "$work/files" || fail "the gateway's package holds other files"
dpkg-deb -x "$gateway" "$work/gw"
cmp -s "$binary" "$work/gw/usr/bin/brindlex" || fail "the packaged executable is not the one built"
cmp -s "$root/packaging/brindlex.sysusers" "$work/gw/usr/lib/sysusers.d/brindlex.conf" ||
  fail "the sysusers file differs from packaging/brindlex.sysusers"
(cd "$root/data" && find . -type f) | while IFS= read -r file; do
  cmp -s "$root/data/$file" "$work/gw/usr/share/brindlex/$file" || fail "usr/share/brindlex/$file differs from data/"
done
# The unit is the template with the package's path, as install.sh's is with
# its own: the two layouts differ in that path alone.
sed 's|@BRINDLEX_BINDIR@|/usr/bin|g' "$root/packaging/brindlex.service.in" >"$work/unit"
diff -u "$work/unit" "$work/gw/usr/lib/systemd/system/brindlex.service" || fail "the unit is not the template's"
grep -qxF 'ExecStart=/usr/bin/brindlex' "$work/gw/usr/lib/systemd/system/brindlex.service" ||
  fail "the unit does not start /usr/bin/brindlex"

# --- the maintainer scripts ----------------------------------------------------
dpkg-deb -e "$gateway" "$work/control"
for script in postinst prerm postrm; do
  [ -f "$work/control/$script" ] || fail "no $script"
  [ "$(stat -c %a "$work/control/$script")" = 755 ] || fail "$script is not 0755"
  head -1 "$work/control/$script" | grep -qxF '#!/bin/sh' || fail "$script is not a /bin/sh script"
  sh -n "$work/control/$script" || fail "$script does not parse"
done

# The scripts run against a fake system: their fixed paths moved under
# $work/sys, and the commands that change the real one (user management,
# ownership, systemd) replaced by recorders writing to $work/calls. The users
# that exist are the lines of $work/users.
sys=$work/sys
mkdir -p "$sys/usr/share" "$sys/var/lib" "$sys/etc" "$work/fake" "$work/tools"
cp -r "$work/gw/usr/share/brindlex" "$sys/usr/share/brindlex"
for script in postinst prerm postrm; do
  sed -e "s|/var/lib/brindlex|$sys/var/lib/brindlex|g" -e "s|/usr/share/brindlex|$sys/usr/share/brindlex|g" \
    -e "s|/run/systemd/system|$sys/run/systemd/system|g" -e "s|/etc/systemd/system|$sys/etc/systemd/system|g" \
    -e "s|/usr/lib/sysusers.d|$sys/usr/lib/sysusers.d|g" "$work/control/$script" >"$work/$script"
  ! grep -qE '(^|[ "])/(var|run|etc|usr/share|usr/lib/sysusers)' "$work/$script" ||
    fail "$script names a path the test did not move: $(grep -nE '(^|[ "])/(var|run|etc|usr/share|usr/lib/sysusers)' "$work/$script")"
done
for tool in sh find cp mkdir chmod rm cat grep; do ln -s "$(command -v "$tool")" "$work/tools/$tool"; done
recorder='#!/bin/sh
echo "${0##*/} $*" >>"'"$work"'/calls"'
for tool in useradd chown systemctl systemd-sysusers; do
  printf '%s\n' "$recorder" >"$work/fake/$tool"
done
cat >"$work/fake/getent" <<EOF
#!/bin/sh
grep -qx "\$1 \$2" "$work/users"
EOF
chmod +x "$work"/fake/*
: >"$work/users"
# runs: [--sysusers] SCRIPT ARGS...; PATH holds the recorders and a few tools
# only, so a command the script needs and the test did not foresee fails it.
runs() {
  local path=$work/fake:$work/tools
  if [ "$1" = --sysusers ]; then shift; else path=$work/fake-no-sysusers:$work/tools; fi
  rm -rf "$work/fake-no-sysusers"
  cp -r "$work/fake" "$work/fake-no-sysusers"
  rm "$work/fake-no-sysusers/systemd-sysusers"
  : >"$work/calls"
  env -i PATH="$path" sh "$work/$1" "${@:2}" || fail "$1 $* ended with $?"
}
calls() { cat "$work/calls"; }
home=$sys/var/lib/brindlex

# A first installation on a machine without systemd running.
runs postinst configure ""
for path in Brindlex.ini Logging Cache wwwroot/index.html wwwroot/messages.txt Forms/default.fem; do
  [ -e "$home/$path" ] || fail "the first installation did not lay out $path"
done
[ "$(stat -c %a "$home")" = 750 ] || fail "the program folder is $(stat -c %a "$home"), not 0750"
calls | grep -qx "useradd --system --user-group --home-dir $home --no-create-home --shell /usr/sbin/nologin --comment Brindlex gateway brindlex" ||
  fail "no system user was made: $(calls)"
calls | grep -qx "chown -R brindlex:brindlex $home" || fail "the program folder was not given to brindlex: $(calls)"
calls | grep -qx "systemctl enable brindlex.service" || fail "the unit was not enabled: $(calls)"
! calls | grep -q "systemctl start\|daemon-reload" || fail "systemd was called though it does not run: $(calls)"

# Where systemd runs and only the group is left from before: the user joins it,
# and the service starts. With systemd-sysusers, that makes the user instead.
rm -rf "$home"
echo "group brindlex" >"$work/users"
mkdir -p "$sys/run/systemd/system"
runs postinst configure ""
calls | grep -q "^useradd --system --gid brindlex " || fail "the existing group was not reused: $(calls)"
calls | grep -qx "systemctl start brindlex.service" || fail "the service was not started: $(calls)"
runs --sysusers postinst configure ""
calls | grep -qx "systemd-sysusers $sys/usr/lib/sysusers.d/brindlex.conf" || fail "systemd-sysusers was not used: $(calls)"
! calls | grep -q useradd || fail "useradd beside systemd-sysusers: $(calls)"

# An upgrade: the administrator's settings, edited pages and logs stay, a
# deleted page comes back, the user is not made again, the service is only
# restarted if it runs, and an administrator's disabling stands.
echo "passwd brindlex" >>"$work/users"
printf '[System]\r\nHttpPort=3128\r\n' >"$home/Brindlex.ini"
echo "edited" >"$home/wwwroot/index.html"
touch "$home/Logging/07-12-26-Brindlex.lgs"
rm "$home/wwwroot/message.html"
runs postinst configure "$version"
grep -q HttpPort=3128 "$home/Brindlex.ini" || fail "an upgrade overwrote the settings"
[ "$(cat "$home/wwwroot/index.html")" = edited ] || fail "an upgrade overwrote an edited page"
[ -e "$home/Logging/07-12-26-Brindlex.lgs" ] || fail "an upgrade removed a log"
cmp -s "$home/wwwroot/message.html" "$sys/usr/share/brindlex/wwwroot/message.html" || fail "a deleted page was not restored"
! calls | grep -q "useradd\|systemd-sysusers" || fail "the user was made again: $(calls)"
! calls | grep -q "systemctl enable" || fail "an upgrade enabled the unit again: $(calls)"
calls | grep -qx "systemctl try-restart brindlex.service" || fail "an upgrade did not restart the service: $(calls)"

runs prerm upgrade "$version"
! calls | grep -q stop || fail "an upgrade stopped the service in prerm: $(calls)"
runs prerm remove
calls | grep -qx "systemctl stop brindlex.service" || fail "a removal did not stop the service: $(calls)"
runs postrm remove
[ -e "$home/Brindlex.ini" ] || fail "a removal deleted the program folder"
mkdir -p "$sys/etc/systemd/system/multi-user.target.wants"
ln -s /usr/lib/systemd/system/brindlex.service "$sys/etc/systemd/system/multi-user.target.wants/brindlex.service"
runs postrm purge
[ ! -e "$home" ] || fail "a purge left the program folder"
[ ! -L "$sys/etc/systemd/system/multi-user.target.wants/brindlex.service" ] || fail "a purge left the unit enabled"

# --- the console's package -------------------------------------------------------
sed 's|@BRINDLEX_CONSOLE_ICON@|network-server|' "$root/packaging/brindlex-console.desktop.in" >"$work/brindlex-console.desktop"
desktop-file-validate --no-hints "$work/brindlex-console.desktop" || fail "the desktop entry is not valid"
if [ -n "$console" ]; then
  deb=$work/out/brindlex-console_${version}_$arch.deb
  [ "$(dpkg-deb -f "$deb" Package)" = brindlex-console ] || fail "console package name $(dpkg-deb -f "$deb" Package)"
  dpkg-deb -f "$deb" Depends | grep -qi 'libqt6widgets6' || fail "the console does not depend on Qt Widgets"
  listing "$deb" | grep -v '/usr/share/icons/' >"$work/console-files"
  printf '%s\n' "-rw-r--r-- root/root ./usr/share/applications/brindlex-console.desktop" \
    "-rwxr-xr-x root/root ./usr/bin/brindlex-console" | sort >"$work/console-expected"
  diff -u "$work/console-expected" "$work/console-files" || fail "the console's package holds other files"
  dpkg-deb -x "$deb" "$work/console"
  cmp -s "$console" "$work/console/usr/bin/brindlex-console" || fail "the packaged console is not the one built"
  entry=$work/console/usr/share/applications/brindlex-console.desktop
  desktop-file-validate --no-hints "$entry" || fail "the packaged desktop entry is not valid"
  for line in 'Name=Brindlex' 'Exec=brindlex-console' 'Categories=Network;System;'; do
    grep -qxF "$line" "$entry" || fail "the desktop entry lacks $line"
  done
  # Cyrillic letters in UTF-8 lead with byte 0xd0 or 0xd1.
  LC_ALL=C grep -q $'^Comment=.*[\xd0\xd1]' "$entry" || fail "the desktop entry's comment is not Russian"
fi
echo "packages: brindlex${console:+ and brindlex-console} $version hold what they should"
