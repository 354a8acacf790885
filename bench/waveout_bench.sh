#!/usr/bin/env bash
# CPU time per second of audio, and time from start to the first sample at the sink, for the
# wave-output service versus paplay (WAV) and mpg123 -o pulse (MP3), on the test bed's
# private sound server. Prints ratios (ours / peer; <= 1.0 is the goal).
#   bench/waveout_bench.sh [build-dir]     (default build/werror)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/werror}
[ -x "$build/bench/bench_playfile" ] || cmake --build "$build" --target bench_playfile -j2 >/dev/null

run() {
    local work; work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    local seconds=${BENCH_SECONDS:-10}
    sox -n -r 48000 -c 2 -b 16 "$work/a.wav" synth $seconds sine 440 sine 660 gain -6 2>/dev/null
    sox "$work/a.wav" -t raw "$work/a.raw"
    lame --quiet -b 128 "$work/a.wav" "$work/a.mp3"

    # cpu <command...>: CPU seconds of the command, from perf's task clock when perf can count,
    # otherwise from getrusage (tick-based, coarse).
    cpu() {
        if perf stat -x, -e task-clock -o "$work/perf" "$@" >/dev/null 2>&1 &&
            grep -q task-clock "$work/perf"; then
            awk -F, '/task-clock/ {print $1 / 1000}' "$work/perf"
        else
            local TIMEFORMAT='%3U %3S'
            { time "$@" >/dev/null 2>&1; } 2>"$work/time"
            awk '{print $1 + $2}' "$work/time"
        fi
    }
    median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
    # Seconds from launch until the sink's monitor carries sound.
    start() {
        python3 - "$@" <<'PY'
import subprocess, sys, time
rec = subprocess.Popen(["pacat", "-r", "-d", "testsink.monitor", "--raw", "--latency-msec=5"],
                       stdout=subprocess.PIPE)
time.sleep(0.5)
rec.stdout.read1(1 << 20)
t0 = time.monotonic()
player = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
found = None
while found is None and time.monotonic() - t0 < 5:
    data = rec.stdout.read1(4096)
    if any(b not in (0, 255) for b in data):
        found = time.monotonic() - t0
player.kill(); rec.kill()
print(f"{found:.4f}" if found is not None else "nan")
time.sleep(0.2)
PY
    }
    local i
    # Medians of interleaved runs, so both sides see the same load on the machine.
    : >"$work/ours_pcm" >"$work/peer_pcm" >"$work/ours_mp3" >"$work/peer_mp3"
    for i in 1 2 3; do
        cpu "$build/bench/bench_playfile" "$work/a.raw" >>"$work/ours_pcm"
        cpu paplay "$work/a.wav" >>"$work/peer_pcm"
        cpu "$build/bench/bench_playfile" "$work/a.mp3" >>"$work/ours_mp3"
        cpu mpg123 -q -o pulse "$work/a.mp3" >>"$work/peer_mp3"
    done
    ours_pcm=$(median <"$work/ours_pcm")
    peer_pcm=$(median <"$work/peer_pcm")
    ours_mp3=$(median <"$work/ours_mp3")
    peer_mp3=$(median <"$work/peer_mp3")
    : >"$work/ours" >"$work/peer"
    for i in 1 2 3 4 5 6 7 8 9; do
        start "$build/bench/bench_playfile" "$work/a.raw" >>"$work/ours"
        start paplay "$work/a.wav" >>"$work/peer"
    done
    ours_start=$(median <"$work/ours")
    peer_start=$(median <"$work/peer")
    awk -v s=$seconds -v a="$ours_pcm" -v b="$peer_pcm" -v c="$ours_mp3" -v d="$peer_mp3" \
        -v e="$ours_start" -v f="$peer_start" 'BEGIN {
        printf "PCM16 CPU per s of audio (median of 3): ours %.2f ms, paplay %.2f ms, ratio %.2f\n", a*1000/s, b*1000/s, (b > 0 ? a/b : 0)
        printf "MP3   CPU per s of audio (median of 3): ours %.2f ms, mpg123 %.2f ms, ratio %.2f\n", c*1000/s, d*1000/s, (d > 0 ? c/d : 0)
        printf "start to first sample (median of 9): ours %.1f ms, paplay %.1f ms, ratio %.2f\n", e*1000, f*1000, (f > 0 ? e/f : 0)
    }'
}
export -f run
exec scripts/testbed.sh bash -c "build=$build; $(declare -f run); run"
