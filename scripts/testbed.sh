#!/usr/bin/env bash
# Private test bed: a PulseAudio server with a null sink "testsink" ("Test Sink") and an Xvfb
# display, both in a private runtime directory, stopped again on exit. The user's own sound
# server and display are never touched.
#
#   scripts/testbed.sh <command...>   runs the command inside the test bed, returns its status
#   source scripts/testbed.sh         starts the test bed in the current shell (stops on exit)
#
# Exports PULSE_SERVER, PULSE_RUNTIME_PATH, DISPLAY and QUINDLE_TESTBED=1 for the tests.

testbed_log() { echo "testbed: $*" >&2; }

testbed_stop() {
    if [ -n "${TESTBED_PULSE_STARTED:-}" ]; then
        XDG_RUNTIME_DIR=$TESTBED_DIR/run HOME=$TESTBED_DIR/home pulseaudio --kill 2>/dev/null || true
        TESTBED_PULSE_STARTED=
    fi
    if [ -n "${TESTBED_XVFB_PID:-}" ]; then
        kill "$TESTBED_XVFB_PID" 2>/dev/null || true
        wait "$TESTBED_XVFB_PID" 2>/dev/null || true
        TESTBED_XVFB_PID=
    fi
    if [ -n "${TESTBED_DIR:-}" ] && [ -d "$TESTBED_DIR" ]; then
        rm -rf "$TESTBED_DIR"
    fi
}

testbed_start_pulse() {
    mkdir -p "$TESTBED_DIR/run" "$TESTBED_DIR/home"
    chmod 700 "$TESTBED_DIR/run"
    local desc='device.description="Test Sink"'
    if ! XDG_RUNTIME_DIR=$TESTBED_DIR/run HOME=$TESTBED_DIR/home \
        pulseaudio --daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes \
        --load="module-native-protocol-unix auth-anonymous=1" \
        --load="module-null-sink sink_name=testsink rate=48000 format=s16le channels=2 norewinds=1 sink_properties='$desc'" \
        >"$TESTBED_DIR/pulse.log" 2>&1; then
        testbed_log "pulseaudio did not start:"; cat "$TESTBED_DIR/pulse.log" >&2
        return 1
    fi
    TESTBED_PULSE_STARTED=1
    export PULSE_RUNTIME_PATH=$TESTBED_DIR/run/pulse
    export PULSE_SERVER=unix:$TESTBED_DIR/run/pulse/native
    local i
    for i in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    testbed_log "pulseaudio does not answer"
    return 1
}

testbed_start_xvfb() {
    command -v Xvfb >/dev/null || { testbed_log "no Xvfb, no display"; return 0; }
    local n
    for n in $(seq 91 140); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$TESTBED_DIR/xvfb.log" 2>&1 &
        TESTBED_XVFB_PID=$!
        local i
        for i in $(seq 1 100); do
            if [ -e "/tmp/.X11-unix/X$n" ]; then
                export DISPLAY=":$n"
                return 0
            fi
            kill -0 "$TESTBED_XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        wait "$TESTBED_XVFB_PID" 2>/dev/null || true
        TESTBED_XVFB_PID=
    done
    testbed_log "Xvfb did not start"
    return 1
}

testbed_start() {
    TESTBED_DIR=$(mktemp -d "${TMPDIR:-/tmp}/qdl-testbed-XXXXXX")
    trap testbed_stop EXIT
    trap 'testbed_stop; exit 130' INT TERM
    unset PULSE_SINK PULSE_COOKIE
    testbed_start_pulse || { testbed_stop; return 1; }
    testbed_start_xvfb || { testbed_stop; return 1; }
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
