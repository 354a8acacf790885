# Shared pieces of the benchmark scripts: the build step, and the measuring functions that run
# inside the test bed (scripts/testbed.sh), which use $BENCH_WORK for scratch files.

# bench_build <target...>: builds the targets (and bench_run) in the tree $build, configured
# anew so that an existing tree learns of new targets.
bench_build() {
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" --target "$@" bench_run -j2 >/dev/null
}

# bench_cpu <command...>: CPU seconds (user + system) of the command, from perf's task clock
# when perf can count here, otherwise from getrusage (microsecond resolution).
bench_cpu() {
    if command -v perf >/dev/null &&
        perf stat -x, -e task-clock -o "$BENCH_WORK/perf" "$@" >/dev/null 2>&1 &&
        grep -q task-clock "$BENCH_WORK/perf"; then
        awk -F, '/task-clock/ {print $1 / 1000}' "$BENCH_WORK/perf"
    else
        bench_usage "$@" | awk '{print $1}'
    fi
}

# bench_usage <command...>: "cpu-seconds peak-resident-kB" of the command alone, measured by
# bench_run of the build tree $build (a child of this interpreter would count its memory too).
bench_usage() {
    "$build/bench/bench_run" "$@" | awk '{print $1, $2}'
}

# bench_median: the median of the numbers on standard input (first column).
bench_median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# bench_first_sound <command...>: seconds from launching the command until the test sink's
# monitor carries sound ("nan" when none comes within 5 s). The command is killed after.
bench_first_sound() {
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
player.kill(); player.wait(); rec.kill()
print(f"{found:.4f}" if found is not None else "nan")
time.sleep(0.2)
PY
}

# bench_test_audio <seconds>: a.wav (PCM16 48 kHz stereo), a.raw and a.mp3 in $BENCH_WORK.
bench_test_audio() {
    sox -n -r 48000 -c 2 -b 16 "$BENCH_WORK/a.wav" synth "$1" sine 440 sine 660 gain -6 2>/dev/null
    sox "$BENCH_WORK/a.wav" -t raw "$BENCH_WORK/a.raw"
    lame --quiet -b 128 "$BENCH_WORK/a.wav" "$BENCH_WORK/a.mp3"
}
