#!/usr/bin/env bash
# CPU time per second of audio, and time from start to the first sample at the sink, for the
# wave-output service versus paplay (WAV) and mpg123 -o pulse (MP3), on the test bed's
# private sound server. Prints ratios (ours / peer; <= 1.0 is the goal).
#   bench/waveout_bench.sh [build-dir]     (default build/werror)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/werror}
source bench/lib.sh
bench_build bench_playfile

run() {
    BENCH_WORK=$(mktemp -d)
    trap 'rm -rf "$BENCH_WORK"' RETURN
    local work=$BENCH_WORK seconds=${BENCH_SECONDS:-10} i
    bench_test_audio "$seconds"
    # Medians of interleaved runs, so both sides see the same load on the machine.
    : >"$work/ours_pcm" >"$work/peer_pcm" >"$work/ours_mp3" >"$work/peer_mp3"
    for i in 1 2 3; do
        bench_cpu "$build/bench/bench_playfile" "$work/a.raw" >>"$work/ours_pcm"
        bench_cpu paplay "$work/a.wav" >>"$work/peer_pcm"
        bench_cpu "$build/bench/bench_playfile" "$work/a.mp3" >>"$work/ours_mp3"
        bench_cpu mpg123 -q -o pulse "$work/a.mp3" >>"$work/peer_mp3"
    done
    : >"$work/ours" >"$work/peer"
    for i in 1 2 3 4 5 6 7 8 9; do
        bench_first_sound "$build/bench/bench_playfile" "$work/a.raw" >>"$work/ours"
        bench_first_sound paplay "$work/a.wav" >>"$work/peer"
    done
    awk -v s="$seconds" -v a="$(bench_median <"$work/ours_pcm")" -v b="$(bench_median <"$work/peer_pcm")" \
        -v c="$(bench_median <"$work/ours_mp3")" -v d="$(bench_median <"$work/peer_mp3")" \
        -v e="$(bench_median <"$work/ours")" -v f="$(bench_median <"$work/peer")" 'BEGIN {
        printf "PCM16 CPU per s of audio (median of 3): ours %.2f ms, paplay %.2f ms, ratio %.2f\n", a*1000/s, b*1000/s, (b > 0 ? a/b : 0)
        printf "MP3   CPU per s of audio (median of 3): ours %.2f ms, mpg123 %.2f ms, ratio %.2f\n", c*1000/s, d*1000/s, (d > 0 ? c/d : 0)
        printf "start to first sample (median of 9): ours %.1f ms, paplay %.1f ms, ratio %.2f\n", e*1000, f*1000, (f > 0 ? e/f : 0)
    }'
}
export -f run
exec scripts/testbed.sh bash -c "source bench/lib.sh; build=$build; $(declare -f run); run"
