#!/usr/bin/env bash
# The applet as a user starts it: time from exec to the first sample at the sink, CPU per
# second of audio and peak resident memory, for a PCM16 WAVE file and an MP3 file, versus
# paplay, mpg123 -o pulse and sox's play on the same files, on the test bed's private sound
# server. Prints ratios (ours / peer).
#   bench/applet_bench.sh [build-dir]     (default build/werror)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/werror}
source bench/lib.sh
bench_build quindle64

run() {
    BENCH_WORK=$(mktemp -d)
    trap 'rm -rf "$BENCH_WORK"' RETURN
    local work=$BENCH_WORK seconds=20 app="$build/apps/play/quindle64"
    bench_test_audio "$seconds"
    measure() {  # "cpu-seconds peak-kB", the run with the median CPU of three
        local i
        for i in 1 2 3; do bench_usage "$@"; done | sort -g | sed -n 2p
    }
    start() {  # median of three
        local i
        for i in 1 2 3; do bench_first_sound "$@"; done | bench_median
    }
    read -r a_pcm a_pcm_kb < <(measure "$app" /H "$work/a.wav")
    read -r p_pcm p_pcm_kb < <(measure paplay "$work/a.wav")
    read -r s_pcm s_pcm_kb < <(measure sox -q "$work/a.wav" -t alsa default)
    read -r a_mp3 a_mp3_kb < <(measure "$app" /H "$work/a.mp3")
    read -r m_mp3 m_mp3_kb < <(measure mpg123 -q -o pulse "$work/a.mp3")
    a_start=$(start "$app" /H "$work/a.wav")
    p_start=$(start paplay "$work/a.wav")
    s_start=$(start sox -q "$work/a.wav" -t alsa default)
    a_win_start=$(start "$app" "$work/a.wav")
    awk -v s=$seconds -v a="$a_pcm" -v p="$p_pcm" -v x="$s_pcm" -v b="$a_mp3" -v m="$m_mp3" \
        -v ak="$a_pcm_kb" -v pk="$p_pcm_kb" -v bk="$a_mp3_kb" -v mk="$m_mp3_kb" \
        -v as="$a_start" -v ps="$p_start" -v ss="$s_start" -v aw="$a_win_start" 'BEGIN {
        printf "applet PCM16 CPU per s:   ours %.2f ms, paplay %.2f ms (ratio %.2f), sox %.2f ms (ratio %.2f)\n", a*1000/s, p*1000/s, (p > 0 ? a/p : 0), x*1000/s, (x > 0 ? a/x : 0)
        printf "applet MP3   CPU per s:   ours %.2f ms, mpg123 %.2f ms (ratio %.2f)\n", b*1000/s, m*1000/s, (m > 0 ? b/m : 0)
        printf "applet peak RSS:          PCM16 %.1f MB (paplay %.1f MB), MP3 %.1f MB (mpg123 %.1f MB); goal < 16 MB\n", ak/1024, pk/1024, bk/1024, mk/1024
        printf "applet start to sound:    ours /H %.1f ms, with window %.1f ms, paplay %.1f ms (ratio %.2f), sox %.1f ms\n", as*1000, aw*1000, ps*1000, (ps > 0 ? as/ps : 0), ss*1000
    }'
}
exec scripts/testbed.sh bash -c "source bench/lib.sh; build=$build; $(declare -f run); run"
