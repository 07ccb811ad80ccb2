#!/usr/bin/env bash
# Fails when an #include points up or sideways between the engine's folders.
# The order, lowest first; a folder may include itself and anything before it,
# except that service folders (same rank) never include each other.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

rank() {
  case "$1" in
    core) echo 0 ;;
    stats) echo 1 ;;
    net) echo 2 ;;
    cache) echo 3 ;;
    http) echo 4 ;;
    web | ftp | socks | dns | portmap | mail | dialup | reports) echo 5 ;;
    console) echo 6 ;;
    console/qt) echo 7 ;;
    app) echo 8 ;;
    *) echo "" ;;
  esac
}

folder_of() {  # path -> its layer folder (console/qt counts apart from console)
  case "$1" in
    console/qt/*) echo console/qt ;;
    *) echo "${1%%/*}" ;;
  esac
}

bad=0
while IFS= read -r file; do
  from=$(folder_of "$file")
  from_rank=$(rank "$from")
  [ -n "$from_rank" ] || continue
  while IFS= read -r target; do
    to=$(folder_of "$target")
    [ "$to" = "$from" ] && continue
    to_rank=$(rank "$to")
    if [ -z "$to_rank" ]; then
      echo "$file includes $target: not a layer of the engine"
      bad=1
    elif [ "$to_rank" -gt "$from_rank" ] || [ "$to_rank" -eq "$from_rank" ]; then
      echo "$file includes $target: $from may not include $to"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')

if [ "$bad" -ne 0 ]; then
  echo "layer check failed: includes must point down the order in README.md (Layout of the source)"
  exit 1
fi
echo "layer check: every include points down"
