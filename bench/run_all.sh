#!/usr/bin/env bash
# Runs every benchmark of the project against its peers in one go and prints one table of
# the results (ours / peer ratios; <= 1.0 is at or better than the peer unless noted).
#   bench/run_all.sh [build-dir]     (default build/werror; built here if needed)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/werror}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 >/dev/null

section() { printf '\n== %s\n' "$1"; }

section "tone generator render vs sox synth (frames per second; ratio ours/sox, goal >= 2)"
"$build/bench/bench_tone_render" 5
section "RIFF WAVE write + read of 256 MiB in 64 KiB blocks vs dd (ratio, goal >= 0.9)"
"$build/bench/bench_wav_io" "$build" 256
section "wave-output service vs paplay / mpg123 (CPU per second; start latency)"
bench/waveout_bench.sh "$build"
for extra in bench/alsa_bench.sh; do
    if [ -x "$extra" ]; then
        section "ALSA backend vs aplay"
        "$extra" "$build"
    fi
done
section "whole engine vs paplay / mpg123 (CPU per second; peak memory)"
bench/player_bench.sh "$build"
section "the applet vs paplay / sox / mpg123 (CPU, memory, start to first sample)"
bench/applet_bench.sh "$build"
section "the applet as a whole process vs paplay / aplay / mpg123, interleaved (Release build)"
bench/lean_bench.sh "$build-release"
section "faults heard at the sink vs paplay: stretch, stop, frozen server, hidden start, punch-in"
scripts/testbed.sh bench/seams_bench.sh "$build/apps/play/quindle64"
