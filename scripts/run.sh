#!/usr/bin/env bash
# Installs what is needed, builds a release build, lays out a program folder
# (default: ./home, or $BRINDLEX_HOME) from data/, puts the gateway and the
# console there and starts the gateway in it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-packages.sh --build-only
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF
cmake --build build/release --target brindlex brindlex-console

home=${BRINDLEX_HOME:-$root/home}
scripts/lay-out-home.sh "$home"
cp build/release/brindlex "$home/brindlex"
cp build/release/brindlex-console "$home/brindlex-console"
echo "program folder: $home"
echo "the console (on a desktop, as this user): $home/brindlex-console"
export BRINDLEX_HOME="$home"
exec "$home/brindlex"
