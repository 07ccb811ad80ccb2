#!/usr/bin/env bash
# Lays out a program folder from the installation data in data/. Files that
# already exist there (settings, logs, edited pages) are kept.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
home=${1:?usage: lay-out-home.sh FOLDER}

mkdir -p "$home/Logging" "$home/Cache" "$home/wwwroot" "$home/Forms"
for folder in wwwroot Forms; do
  [ -d "$root/data/$folder" ] && cp -rn "$root/data/$folder/." "$home/$folder/"
done
[ -e "$home/Brindlex.ini" ] || cp "$root/data/Brindlex.ini" "$home/Brindlex.ini"
