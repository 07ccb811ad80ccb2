#!/usr/bin/env bash
# Lays out a program folder from installation data (default: data/ of this
# tree). Files that already exist there (settings, logs, edited pages) are
# kept.
#
# Usage: scripts/lay-out-home.sh FOLDER [DATA]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
home=${1:?usage: lay-out-home.sh FOLDER [DATA]}
data=${2:-$root/data}

mkdir -p "$home/Logging" "$home/Cache" "$home/wwwroot" "$home/Forms"
for folder in wwwroot Forms; do
  [ -d "$data/$folder" ] && cp -rn "$data/$folder/." "$home/$folder/"
done
[ -e "$home/Brindlex.ini" ] || cp "$data/Brindlex.ini" "$home/Brindlex.ini"
