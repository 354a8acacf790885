#!/usr/bin/env bash
# Builds the Debian package from the Release tree build/release (the one run.sh uses) and
# prints its path: build/release/quindle64_<version>_<arch>.deb. Usage: scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" build >&2
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUINDLE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -f "$build"/quindle64_*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$build"/quindle64_*.deb
