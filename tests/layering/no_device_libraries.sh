#!/usr/bin/env bash
# Fails when one of the given programs is linked with, or loads, a window, audio or decoding
# library (X11, FLTK, libpulse, ALSA, mpg123, SoundTouch): the file layer, its tests and fuzz
# targets need none of them. The link line is read from the build tree (Makefiles or Ninja),
# since the linker drops libraries nothing calls and the loaded list alone could hide them.
# Usage: no_device_libraries.sh <build dir> <program>...
set -euo pipefail
[ $# -gt 1 ] || { echo "usage: $0 <build dir> <program>..." >&2; exit 2; }
build=$1
shift
pattern='(^|/|^-l)(lib)?(X11|fltk[a-z_]*|pulse[a-z-]*|asound|mpg123|SoundTouch)(\.so[.0-9]*|\.a)?$'
link_line() {  # link_line <target>
    if [ -f "$build/build.ninja" ]; then
        ninja -C "$build" -t commands "$1" | tail -1
    else
        local file
        file=$(find "$build" -path "*/CMakeFiles/$1.dir/link.txt" | head -1)
        [ -n "$file" ] || { echo "no link line for $1 under $build" >&2; return 1; }
        cat "$file"
    fi
}
status=0
for program in "$@"; do
    name=$(basename "$program")
    line=$(link_line "$name")
    loaded=$(ldd "$program")
    found=$( (tr ' ' '\n' <<<"$line"; awk '{print $1}' <<<"$loaded") |
        grep -E "$pattern" | sort -u | tr '\n' ' ' || true)
    if [ -n "$found" ]; then
        echo "$name: $found"
        status=1
    fi
done
[ $status -ne 0 ] || echo "no window, audio or decoding library in $# programs"
exit $status
