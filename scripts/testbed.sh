#!/usr/bin/env bash
# Private test bed: a sound server with a null sink "testsink" ("Test Sink") and an Xvfb
# display, both in a private runtime directory, stopped again on exit. The sound server is
# PulseAudio, or PipeWire with QUINDLE_TESTBED_SERVER=pipewire. The user's own sound
# server and display are never touched.
#
#   scripts/testbed.sh <command...>   runs the command inside the test bed, returns its status
#   source scripts/testbed.sh         starts the test bed in the current shell (stops on exit)
#
# Exports PULSE_SERVER, PULSE_RUNTIME_PATH, DISPLAY (no window manager), QUINDLE_WM_DISPLAY
# (openbox), QUINDLE_TESTBED=1 and QUINDLE_TESTBED_SERVER (pulseaudio or pipewire) for the tests.

testbed_log() { echo "testbed: $*" >&2; }

testbed_stop() {
    testbed_stop_openbox
    testbed_stop_sound_server
    if [ -n "${TESTBED_XVFB_PID:-}" ]; then
        kill "$TESTBED_XVFB_PID" 2>/dev/null || true
        wait "$TESTBED_XVFB_PID" 2>/dev/null || true
        TESTBED_XVFB_PID=
    fi
    if [ -n "${TESTBED_DIR:-}" ] && [ -d "$TESTBED_DIR" ]; then
        rm -rf "$TESTBED_DIR"
    fi
}

# The sound server: PulseAudio, or with QUINDLE_TESTBED_SERVER=pipewire PipeWire's pulse
# server, started by scripts/soundserver.sh in the test bed's directory.
testbed_start_pulse() {
    export QUINDLE_TESTBED_SERVER=${QUINDLE_TESTBED_SERVER:-pulseaudio}
    local here
    here=$(dirname "${BASH_SOURCE[0]}")
    TESTBED_SOUND_SCRIPT=$(cd "$here" && pwd)/soundserver.sh
    TESTBED_PULSE_STARTED=1
    "$TESTBED_SOUND_SCRIPT" start "$TESTBED_DIR/sound" >/dev/null || return 1
    export PULSE_RUNTIME_PATH=$TESTBED_DIR/sound/run/pulse
    export PULSE_SERVER=unix:$TESTBED_DIR/sound/run/pulse/native
}

testbed_stop_sound_server() {
    if [ -n "${TESTBED_PULSE_STARTED:-}" ]; then
        "$TESTBED_SOUND_SCRIPT" stop "$TESTBED_DIR/sound" 2>/dev/null || true
        TESTBED_PULSE_STARTED=
    fi
}

testbed_start_xvfb() {
    command -v Xvfb >/dev/null || { testbed_log "no Xvfb, no display"; return 0; }
    # The server takes the first free display number itself and writes it once it takes
    # connections: a number chosen here by looking for lock files raced with other test beds
    # starting at the same time. -noreset: by default an X server starts afresh whenever its
    # last client leaves, and a client that connects just then (openbox right after the
    # probe below) fails to open the display.
    TESTBED_DISPLAYS=$((${TESTBED_DISPLAYS:-0} + 1))
    local file=$TESTBED_DIR/display-$TESTBED_DISPLAYS n i
    : >"$file"
    Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$file" >"$file.log" 2>&1 &
    TESTBED_XVFB_PID=$!
    for i in $(seq 1 200); do
        # A whole line (read fails on a number still being written), and a server that answers.
        if read -r n <"$file" && [ -n "$n" ] &&
            { ! command -v xprop >/dev/null || DISPLAY=":$n" xprop -root >/dev/null 2>&1; }; then
            export DISPLAY=":$n"
            return 0
        fi
        kill -0 "$TESTBED_XVFB_PID" 2>/dev/null || break
        sleep 0.05
    done
    testbed_log "Xvfb did not start:"; cat "$file.log" >&2
    kill "$TESTBED_XVFB_PID" 2>/dev/null || true
    wait "$TESTBED_XVFB_PID" 2>/dev/null || true
    TESTBED_XVFB_PID=
    return 1
}

# A second private display with the openbox window manager, for the window tests that must
# also hold under a real frame: exported as QUINDLE_WM_DISPLAY (unset when openbox is missing).
# Set QUINDLE_TESTBED_WM=0 to leave it out.
testbed_start_openbox() {
    [ "${QUINDLE_TESTBED_WM:-1}" != 0 ] || return 0
    command -v openbox >/dev/null && command -v Xvfb >/dev/null ||
        { testbed_log "no openbox, no window-manager display"; return 0; }
    local plain_display=${DISPLAY:-} plain_pid=${TESTBED_XVFB_PID:-}
    TESTBED_XVFB_PID=
    testbed_start_xvfb || return 1
    export QUINDLE_WM_DISPLAY=$DISPLAY
    TESTBED_WM_XVFB_PID=$TESTBED_XVFB_PID
    TESTBED_XVFB_PID=$plain_pid
    if [ -n "$plain_display" ]; then export DISPLAY=$plain_display; else unset DISPLAY; fi
    mkdir -p "$TESTBED_DIR/openbox-home"
    DISPLAY=$QUINDLE_WM_DISPLAY HOME=$TESTBED_DIR/openbox-home XDG_CONFIG_HOME= XDG_CACHE_HOME= \
        openbox --sm-disable >"$TESTBED_DIR/openbox.log" 2>&1 &
    TESTBED_OPENBOX_PID=$!
    local i
    for i in $(seq 1 200); do  # managing once it owns the screen's selection
        DISPLAY=$QUINDLE_WM_DISPLAY xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null |
            grep -q 'window id' && return 0
        kill -0 "$TESTBED_OPENBOX_PID" 2>/dev/null || break
        sleep 0.05
    done
    testbed_log "openbox did not start on $QUINDLE_WM_DISPLAY (its Xvfb $(kill -0 \
        "$TESTBED_WM_XVFB_PID" 2>/dev/null && echo runs || echo is gone)):"
    cat "$TESTBED_DIR/openbox.log" "$TESTBED_DIR"/display-*.log >&2
    return 1
}

testbed_stop_openbox() {
    local pid
    for pid in ${TESTBED_OPENBOX_PID:-} ${TESTBED_WM_XVFB_PID:-}; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    TESTBED_OPENBOX_PID= TESTBED_WM_XVFB_PID=
}

testbed_start() {
    TESTBED_DIR=$(mktemp -d "${TMPDIR:-/tmp}/qdl-testbed-XXXXXX")
    trap testbed_stop EXIT
    trap 'testbed_stop; exit 130' INT TERM
    unset PULSE_SINK PULSE_COOKIE
    testbed_start_pulse || { testbed_stop; return 1; }
    testbed_start_xvfb || { testbed_stop; return 1; }
    testbed_start_openbox || { testbed_stop; return 1; }
    export QUINDLE_TESTBED=1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    [ $# -gt 0 ] || { echo "usage: $0 <command...>" >&2; exit 2; }
    testbed_start
    status=0
    "$@" || status=$?
    exit $status
else
    testbed_start
fi
