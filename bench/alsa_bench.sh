#!/usr/bin/env bash
# CPU time per second of PCM16 48 kHz stereo playback through the wave-output service's ALSA
# backend versus aplay, both on the same ALSA PCM in the same run: a pulse-type PCM on the
# test bed's private sound server (real pacing, no sound card needed). The service is put on
# ALSA by the test-only WAVEOUT_ALSA_DEVICES; it plays on its mapper, ALSA's "default".
# Each player runs `rounds` times, alternating; the medians of their CPU time (perf's task
# clock where perf counts) are compared.
# Prints the ratio (ours / aplay; <= 1.0 is the goal).
#   bench/alsa_bench.sh [build-dir] [seconds] [rounds]     (default build/werror, 20, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/werror}
seconds=${2:-20}
rounds=${3:-3}
source bench/lib.sh
bench_build bench_playfile

run() {
    local work; work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    mkdir "$work/home"
    # The PCM both players use, told the server itself so that it is the same either way.
    printf 'pcm.!default { type pulse server "%s" device testsink }\n' "$PULSE_SERVER" \
        >"$work/home/.asoundrc"
    sox -n -r 48000 -c 2 -b 16 "$work/a.wav" synth "$seconds" sine 440 sine 660 gain -6 2>/dev/null
    sox "$work/a.wav" -t raw "$work/a.raw"

    cpu() {  # cpu <command...>: CPU seconds of the command with the private ALSA setup
        HOME=$work/home BENCH_WORK=$work timeout $((seconds * 3 + 10)) \
            bash -c "source bench/lib.sh; bench_cpu \"\$@\"" cpu "$@"
    }
    local ours=() peer=() i
    for i in $(seq "$rounds"); do
        ours+=("$(WAVEOUT_ALSA_DEVICES=default cpu "$build/bench/bench_playfile" "$work/a.raw")")
        peer+=("$(cpu aplay -q -D default "$work/a.wav")")
    done
    awk -v s="$seconds" -v a="$(printf '%s\n' "${ours[@]}" | bench_median)" \
        -v b="$(printf '%s\n' "${peer[@]}" | bench_median)" \
        -v all_a="${ours[*]}" -v all_b="${peer[*]}" 'BEGIN {
        printf "runs (CPU s): ours %s | aplay %s\n", all_a, all_b
        printf "PCM16 48 kHz stereo on ALSA (pulse PCM), CPU per s of audio: ours %.2f ms, aplay %.2f ms, ratio %.2f\n",
            a * 1000 / s, b * 1000 / s, (b > 0 ? a / b : 0)
    }'
}
export -f run
exec scripts/testbed.sh bash -c "source bench/lib.sh; build=$build; seconds=$seconds; rounds=$rounds; $(declare -f run); run"
