#!/usr/bin/env bash
# Installs what is missing, builds the applet (Release, incrementally) and runs it with the
# given arguments:   ./run.sh [options] <file>      e.g.  ./run.sh build/release/demo.wav
# On a machine where no sound server or sound card answers (a fresh server, a container, CI)
# it says so on standard error and plays on the test bed's private sound server instead
# (scripts/testbed.sh), with the display the caller has, or none.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)

# A sound server that answers within 2 s, or a playback device node of a sound card.
sound_answers() {
    if command -v pactl >/dev/null; then
        timeout 2 pactl info >/dev/null 2>&1 && return 0
    elif [ -n "${PULSE_SERVER:-}" ] || [ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native" ]; then
        return 0
    fi
    compgen -G '/dev/snd/pcmC*D*p' >/dev/null
}

"$root/scripts/deps.sh" build >&2
build="$root/build/release"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUINDLE_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target quindle64 demo >/dev/null
program="$build/apps/play/quindle64"
if sound_answers; then
    exec "$program" "$@"
fi
echo "run.sh: no sound server or sound card answers here; playing on the test bed's private sound server instead" >&2
"$root/scripts/deps.sh" testbed >&2
# The test bed brings displays of its own; the program keeps the caller's (or none, so that
# no box waits for a click on a screen nobody sees).
QUINDLE_TESTBED_WM=0 exec "$root/scripts/testbed.sh" bash -c \
    'if [ -n "$1" ]; then export DISPLAY=$1; else unset DISPLAY; fi; shift; exec "$@"' \
    run.sh "${DISPLAY:-}" "$program" "$@"
