#!/usr/bin/env bash
# Installs what is missing, builds the applet (Release, incrementally) and runs it with the
# given arguments:   ./run.sh [options] <file>      e.g.  ./run.sh build/release/demo.wav
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/deps.sh" build >&2
build="$root/build/release"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUINDLE_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target quindle64 demo >/dev/null
exec "$build/apps/play/quindle64" "$@"
