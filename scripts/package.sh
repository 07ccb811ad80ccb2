#!/usr/bin/env bash
# Makes the Debian packages from this tree: a release build, then
#   build/packages/brindlex_<version>_<arch>.deb          the gateway as a service
#   build/packages/brindlex-console_<version>_<arch>.deb  the desktop console
# (the console's package only once the tree builds brindlex-console).
# Installs what it needs first (the build tools and dpkg-dev, whose
# dpkg-shlibdeps reads the packages' dependencies from the executables).
#
# Usage: scripts/package.sh
# Install the result with: apt install ./build/packages/*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-packages.sh --build-only dpkg-dev
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLEX_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build/release --target packaged_programs
# A package left from an earlier version must not be taken for this one's.
rm -rf build/packages
mkdir -p build/packages
(cd build/release && cpack -B "$root/build/packages")
rm -rf build/packages/_CPack_Packages
ls -1 build/packages/*.deb
