#!/usr/bin/env bash
# A private sound server in a directory of its own, with a null sink "testsink" ("Test Sink",
# 48 kHz 16-bit stereo) as its default sink. Nothing of the user's own session is touched.
#
#   scripts/soundserver.sh start <dir> [pulseaudio|pipewire]   (default: $QUINDLE_TESTBED_SERVER,
#                                                                 else pulseaudio)
#   scripts/soundserver.sh stop|kill|freeze|thaw <dir>
#
# start prints the server's address (for PULSE_SERVER) and keeps it in <dir>/address; the
# server's processes are listed in <dir>/pids. kill ends them at once as a crash would, freeze
# stops them (SIGSTOP) so the server falls silent, thaw lets them go on. After kill or stop
# the server can be started again in the same directory, at the same address.
set -uo pipefail

ss_log() { echo "soundserver: $*" >&2; }

# Runs a command in the server's private environment; exec'd, so that a command started in
# the background has the pid that $! gives.
ss_env() {
    exec env -u PULSE_SERVER -u PULSE_SINK -u PULSE_COOKIE -u PIPEWIRE_REMOTE \
        -u DBUS_SESSION_BUS_ADDRESS -u XDG_CONFIG_HOME -u XDG_STATE_HOME -u XDG_DATA_HOME \
        -u XDG_CACHE_HOME XDG_RUNTIME_DIR="$SS_DIR/run" HOME="$SS_DIR/home" \
        PULSE_RUNTIME_PATH="$SS_DIR/run/pulse" "$@"
}

ss_answers() {
    local i
    for i in $(seq 1 100); do
        PULSE_SERVER=$SS_ADDRESS pactl info >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}

ss_start_pulseaudio() {
    local desc='device.description="Test Sink"'
    rm -f "$SS_DIR/run/pulse/pid"
    (ss_env pulseaudio --daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes \
        --load="module-native-protocol-unix auth-anonymous=1" \
        --load="module-null-sink sink_name=testsink rate=48000 format=s16le channels=2 norewinds=1 sink_properties='$desc'" \
        >>"$SS_DIR/server.log" 2>&1) || return 1
    cat "$SS_DIR/run/pulse/pid" >"$SS_DIR/pids"
    ss_answers
}

# Debian's PipeWire without systemd: a private session bus, then the graph, the session
# manager and the pulse server, each in the background.
ss_start_pipewire() {
    local bus="unix:path=$SS_DIR/run/bus" pids=() daemon i
    if [ ! -S "$SS_DIR/run/bus" ] || ! kill -0 "$(cat "$SS_DIR/dbus.pid" 2>/dev/null)" 2>/dev/null; then
        rm -f "$SS_DIR/run/bus"
        (ss_env dbus-daemon --session --fork --address="$bus" --print-pid=3 \
            3>"$SS_DIR/dbus.pid" >>"$SS_DIR/server.log" 2>&1) || return 1
    fi
    # A killed server's sockets would seem ready before the new one listens.
    rm -f "$SS_DIR/run/pipewire-0" "$SS_DIR/run/pipewire-0.lock" "$SS_DIR/run/pulse/native"
    for daemon in pipewire wireplumber pipewire-pulse; do
        (ss_env DBUS_SESSION_BUS_ADDRESS="$bus" setsid "$daemon" >>"$SS_DIR/server.log" 2>&1) &
        pids+=($!)
        if [ "$daemon" = pipewire ]; then
            for i in $(seq 1 100); do
                [ -S "$SS_DIR/run/pipewire-0" ] && break
                sleep 0.05
            done
        fi
    done
    echo "${pids[*]}" >"$SS_DIR/pids"
    ss_answers || return 1
    # PipeWire's module takes the description quoted inside the properties.
    PULSE_SERVER=$SS_ADDRESS pactl load-module module-null-sink sink_name=testsink \
        rate=48000 channels=2 "sink_properties='device.description=\"Test Sink\"'" \
        >/dev/null || return 1
    for i in $(seq 1 100); do
        if PULSE_SERVER=$SS_ADDRESS pactl list short sinks 2>/dev/null | grep -q testsink; then
            PULSE_SERVER=$SS_ADDRESS pactl set-default-sink testsink && return 0
        fi
        sleep 0.05
    done
    return 1
}

ss_signal() {  # ss_signal <signal> [pulse]: every process of the server, or its pulse server
    local pid
    for pid in $(cat "$SS_DIR/pids" 2>/dev/null); do
        if [ "${2:-}" != pulse ] || [ "$(cat /proc/"$pid"/comm 2>/dev/null)" != pipewire ] &&
            [ "$(cat /proc/"$pid"/comm 2>/dev/null)" != wireplumber ]; then
            kill -"$1" "$pid" 2>/dev/null
        fi
    done
}

ss_stop() {
    ss_signal CONT
    ss_signal TERM
    local pid i
    for pid in $(cat "$SS_DIR/pids" 2>/dev/null); do
        for i in $(seq 1 40); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -KILL "$pid" 2>/dev/null
    done
    rm -f "$SS_DIR/pids" "$SS_DIR/run/pulse/pid"
}

ss_main() {
    [ $# -ge 2 ] || { echo "usage: $0 start|stop|kill|freeze|thaw <dir> [kind]" >&2; return 2; }
    local action=$1 kind=${3:-${QUINDLE_TESTBED_SERVER:-pulseaudio}}
    SS_DIR=$(cd "$2" 2>/dev/null && pwd || echo "$2")
    SS_ADDRESS="unix:$SS_DIR/run/pulse/native"
    case $action in
        start)
            mkdir -p "$SS_DIR/run" "$SS_DIR/home" && chmod 700 "$SS_DIR/run" || return 1
            if ! "ss_start_$kind"; then
                ss_log "$kind did not start:"; tail -n 20 "$SS_DIR/server.log" >&2
                ss_stop
                return 1
            fi
            echo "$SS_ADDRESS" | tee "$SS_DIR/address"
            ;;
        stop)
            ss_stop
            if [ -f "$SS_DIR/dbus.pid" ]; then
                kill "$(cat "$SS_DIR/dbus.pid")" 2>/dev/null
                rm -f "$SS_DIR/dbus.pid"
            fi
            ;;
        kill)
            ss_signal KILL
            # A pid file left behind would keep the next server from starting.
            rm -f "$SS_DIR/pids" "$SS_DIR/run/pulse/pid"
            ;;
        # PipeWire's pulse server is the process that answers the clients; its graph is
        # left running (a stopped graph garbles what is played and recorded, pacat's too).
        freeze) ss_signal STOP pulse ;;
        thaw) ss_signal CONT pulse ;;
        *) echo "unknown action $action" >&2; return 2 ;;
    esac
}

ss_main "$@"
