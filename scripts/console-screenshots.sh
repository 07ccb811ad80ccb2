#!/usr/bin/env bash
# Pictures of every page and dialog of the console, attached to a gateway
# started for the purpose with a few users, groups, a port mapping and some
# traffic, saved as PNG at each window's default size into docs/console/
# (or the folder given). The same run checks that nothing is cut, off its
# window or English (tests/qt/console_screens_test.cpp); a failure there
# fails this script, after the pictures are written.
#
# Usage: scripts/console-screenshots.sh [FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=${1:-docs/console}

scripts/install-packages.sh
build=${BRINDLEX_BUILD:-build/dev}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug
ninja -C "$build" brindlex brindlex_console_tests

# A picture of a page that is gone must not outlive it.
mkdir -p "$out"
rm -f "$out"/*.png
# Dates and sizes in the file dialog as a Russian desktop shows them.
LC_ALL=ru_RU.UTF-8 QT_QPA_PLATFORM=offscreen BRINDLEX_SCREENSHOTS="$(cd "$out" && pwd)" \
  "$build/tests/brindlex_console_tests" --gtest_filter='ConsoleScreens.EveryPageAndDialog*'
ls "$out"
