#!/usr/bin/env bash
# Fails when one of the given programs loads a window, audio or decoding library (X11, FLTK,
# libpulse, ALSA, mpg123, SoundTouch): the file layer, its tests and fuzz targets need none of
# them. Debian's linker keeps every library on the link line, so the loaded list shows them all.
# Usage: no_device_libraries.sh <program>...
set -euo pipefail
pattern='^lib(X11|fltk[a-z_]*|pulse[a-z-]*|asound|mpg123|SoundTouch)\.so'
status=0
for program in "$@"; do
    found=$(ldd "$program" | awk '{print $1}' | grep -E "$pattern" | sort -u | tr '\n' ' ' || true)
    if [ -n "$found" ]; then
        echo "$(basename "$program"): $found"
        status=1
    fi
done
[ $status -ne 0 ] || echo "no window, audio or decoding library in $# programs"
exit $status
