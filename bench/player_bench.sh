#!/usr/bin/env bash
# CPU time per second of audio and peak resident memory of playback through the whole
# engine, for a PCM16 WAVE file and an MP3 file, versus paplay and mpg123 -o pulse on the
# same files, on the test bed's private sound server. Prints ratios (ours / peer).
#   bench/player_bench.sh [build-dir]     (default build/werror)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/werror}
source bench/lib.sh
bench_build bench_player

run() {
    BENCH_WORK=$(mktemp -d)
    trap 'rm -rf "$BENCH_WORK"' RETURN
    local work=$BENCH_WORK seconds=20
    bench_test_audio "$seconds"
    read -r ours_pcm ours_pcm_kb < <(bench_usage "$build/bench/bench_player" "$work/a.wav")
    read -r peer_pcm peer_pcm_kb < <(bench_usage paplay "$work/a.wav")
    read -r ours_mp3 ours_mp3_kb < <(bench_usage "$build/bench/bench_player" "$work/a.mp3")
    read -r peer_mp3 peer_mp3_kb < <(bench_usage mpg123 -q -o pulse "$work/a.mp3")
    awk -v s=$seconds -v a="$ours_pcm" -v b="$peer_pcm" -v c="$ours_mp3" -v d="$peer_mp3" \
        -v ka="$ours_pcm_kb" -v kb="$peer_pcm_kb" -v kc="$ours_mp3_kb" -v kd="$peer_mp3_kb" 'BEGIN {
        printf "engine PCM16 CPU per s: ours %.2f ms, paplay %.2f ms, ratio %.2f\n", a*1000/s, b*1000/s, (b > 0 ? a/b : 0)
        printf "engine MP3   CPU per s: ours %.2f ms, mpg123 %.2f ms, ratio %.2f\n", c*1000/s, d*1000/s, (d > 0 ? c/d : 0)
        printf "engine PCM16 peak RSS:  ours %.1f MB, paplay %.1f MB, ratio %.2f\n", ka/1024, kb/1024, ka/kb
        printf "engine MP3   peak RSS:  ours %.1f MB, mpg123 %.1f MB, ratio %.2f\n", kc/1024, kd/1024, kc/kd
    }'
}
exec scripts/testbed.sh bash -c "source bench/lib.sh; build=$build; $(declare -f run); run"
