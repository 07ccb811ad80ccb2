#!/usr/bin/env bash
# Installs what is needed, builds a release build, lays out a program folder
# (default: ./home, or $BRINDLEX_HOME) from data/ and starts the gateway in it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-packages.sh --build-only
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF
cmake --build build/release --target brindlex

home=${BRINDLEX_HOME:-$root/home}
scripts/lay-out-home.sh "$home"
cp build/release/brindlex "$home/brindlex"
echo "program folder: $home"
export BRINDLEX_HOME="$home"
exec "$home/brindlex"
