#!/usr/bin/env bash
# The applet as a whole process against the plain players, in ONE interleaved run on the test
# bed's private PulseAudio null sink: every round runs each case of ours and its peer back to
# back, and the medians over the rounds are compared.
#   - first sound: exec to the first sample with sound at the sink (its monitor, read with
#     timestamps), 1 s WAV vs paplay and 1 s MP3 vs mpg123 -o pulse, with /H and window shown
#   - the end: last sample heard at the sink to exit (the same runs)
#   - a 10 ms WAV with /H, exec to exit: wall and CPU, vs paplay
#   - an 8 s PCM16 WAV with /H: CPU against paplay's plus the 50 ms timer's floor, and the
#     wake-ups per second of playback over all threads against paplay's plus the ticks
#   - the same WAV on ALSA (its pulse PCM as /D:0 of the test-only device list): CPU, vs aplay -D pulse
#   - an 8 s 192 kbit/s MP3 with /H: CPU, vs mpg123 -o pulse
#   - the window shown: CPU per second vs /H, and its peak resident memory
#   - the floors that the applet's fixed structure sets: the status window's 50 ms timer alone
#     (a bare process that only waits 160 times for 50 ms, as the timer does over 8 s), a
#     short run's wall time with the mean wait for the tick that sees the end (25 ms) added,
#     and the least a start costs (bench_start_floor: the display opened and searched for
#     another instance, a stream opened and written, nothing else), its first sound and a
#     10 ms file's CPU, linked with X's and the sound server's libraries alone and with all
#     of the applet's
# Prints ours, peer, ratio and goal per row. Built as a Release build in its own folder.
#   bench/lean_bench.sh [build-dir] [rounds]     (default build/release, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${2:-5}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUINDLE_ALSA=ON >/dev/null
cmake --build "$build" --target quindle64 bench_run bench_timer_floor bench_start_floor \
    bench_start_floor_linked -j2 >/dev/null

run() {
    local work; work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    sox -n -r 48000 -c 2 -b 16 "$work/short.wav" synth 0.01 sine 440 gain -6 2>/dev/null
    sox -n -r 48000 -c 2 -b 16 "$work/a.wav" synth 8 sine 440 sine 660 gain -6 2>/dev/null
    sox -n -r 48000 -c 2 -b 16 "$work/end.wav" synth 1 sine 440 gain -6 2>/dev/null
    lame --quiet -b 192 "$work/a.wav" "$work/a.mp3"
    lame --quiet -b 192 "$work/end.wav" "$work/end.mp3"
    python3 - "$build/apps/play/quindle64" "$work" "$rounds" "$build/bench" <<'PY'
import os, statistics, subprocess, sys, threading, time
app, work, rounds, tools = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
alsa_env = dict(os.environ, WAVEOUT_ALSA_DEVICES="pulse")

def run(argv, env=None):
    """(wall s, CPU s, peak kB, wake-ups) of one whole process, exec to exit (bench_run)."""
    out = subprocess.run([f"{tools}/bench_run"] + argv, env=env, stdout=subprocess.PIPE,
                         text=True).stdout.split()
    return float(out[2]), float(out[0]), int(out[1]), int(out[3])

def sound_times(argv):
    """Seconds from the exec to the first sample with sound at the sink's monitor, and from
    the last such sample to the player's exit."""
    rec = subprocess.Popen(["pacat", "-r", "-d", "testsink.monitor", "--raw", "--format=s16le",
                            "--rate=48000", "--channels=2", "--latency-msec=2"],
                           stdout=subprocess.PIPE)
    chunks = []
    def reader():
        while True:
            data = rec.stdout.read1(384)
            if not data:
                return
            chunks.append((time.monotonic(), data))
    t = threading.Thread(target=reader); t.start()
    time.sleep(0.4)
    t_start = time.monotonic()
    p = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    p.wait(); t_exit = time.monotonic()
    time.sleep(0.3)
    rec.terminate(); t.join(); rec.wait()
    first = last = None
    for t_read, data in chunks:
        for i in range(0, len(data) - 1, 2):
            if abs(int.from_bytes(data[i:i + 2], "little", signed=True)) > 300:
                last = t_read - (len(data) - i) / (48000 * 4)
                first = last if first is None else first
    if last is None:
        return float("nan"), float("nan")
    return first - t_start, t_exit - last

cases = {
    "short_ours": lambda: run([app, "/H", f"{work}/short.wav"]),
    "short_paplay": lambda: run(["paplay", f"{work}/short.wav"]),
    "wav_ours": lambda: run([app, "/H", f"{work}/a.wav"]),
    "wav_paplay": lambda: run(["paplay", f"{work}/a.wav"]),
    "alsa_ours": lambda: run([app, "/H", "/D:0", f"{work}/a.wav"], alsa_env),
    "alsa_aplay": lambda: run(["aplay", "-q", "-D", "pulse", f"{work}/a.wav"]),
    "mp3_ours": lambda: run([app, "/H", f"{work}/a.mp3"]),
    "mp3_mpg123": lambda: run(["mpg123", "-q", "-o", "pulse", f"{work}/a.mp3"]),
    "window_ours": lambda: run([app, f"{work}/a.wav"]),
    "ticks_only": lambda: run([f"{tools}/bench_timer_floor", "160"]),
    "short_floor": lambda: run([f"{tools}/bench_start_floor", f"{work}/short.wav"]),
    "short_floor_linked": lambda: run([f"{tools}/bench_start_floor_linked", f"{work}/short.wav"]),
}
sounds = {
    "wav_h": [app, "/H", f"{work}/end.wav"],
    "wav_window": [app, f"{work}/end.wav"],
    "wav_paplay": ["paplay", f"{work}/end.wav"],
    "mp3_h": [app, "/H", f"{work}/end.mp3"],
    "mp3_window": [app, f"{work}/end.mp3"],
    "mp3_mpg123": ["mpg123", "-q", "-o", "pulse", f"{work}/end.mp3"],
    "floor": [f"{tools}/bench_start_floor", f"{work}/end.wav"],
    "floor_linked": [f"{tools}/bench_start_floor_linked", f"{work}/end.wav"],
}
res = {k: [] for k in cases}
heard = {k: [] for k in sounds}
for r in range(rounds):
    for k, f in cases.items():
        res[k].append(f())
    for k, argv in sounds.items():
        heard[k].append(sound_times(argv))
    print(f"round {r + 1}/{rounds} done", file=sys.stderr)

med = lambda k, i: statistics.median(x[i] for x in res[k])
ms = lambda v: f"{v * 1000:.1f} ms"
def row(what, ours, peer, goal, fmt=ms):
    ratio = f"{ours / peer:.2f}" if peer else "-"
    print(f"| {what} | {fmt(ours)} | {fmt(peer) if peer else '-'} | {ratio} | {goal} |")

print(f"medians of {rounds} interleaved rounds; the machine may be shared: trust the CPU ratios,"
      " not the wall times")
print("| what | quindle64 | peer | ratio | goal |\n|---|---|---|---|---|")
first = lambda k: statistics.median(x[0] for x in heard[k])
for what, ours, peer in (("1 s WAV /H", "wav_h", "wav_paplay"),
                         ("1 s WAV, window shown", "wav_window", "wav_paplay"),
                         ("1 s MP3 /H", "mp3_h", "mp3_mpg123"),
                         ("1 s MP3, window shown", "mp3_window", "mp3_mpg123")):
    row(f"first sound: exec -> sink, {what} ({sounds[peer][0]})", first(ours), first(peer), "<= 1.0")
row("10 ms WAV /H, exec to exit, wall (paplay)", med("short_ours", 0), med("short_paplay", 0), "<= 1.3")
row("10 ms WAV /H, CPU (paplay)", med("short_ours", 1), med("short_paplay", 1), "<= 1.7")
floor = med("ticks_only", 1)
row("8 s PCM16 WAV /H, CPU (paplay + timer floor + 2 ms)", med("wav_ours", 1),
    med("wav_paplay", 1) + floor + 0.002, "<= 1.0")
row("8 s PCM16 WAV /H, CPU (paplay)", med("wav_ours", 1), med("wav_paplay", 1), "-")
row("8 s WAV /H, wake-ups per s over all threads (paplay + 20)", med("wav_ours", 3) / 8,
    med("wav_paplay", 3) / 8 + 20, "<= 1.0", lambda v: f"{v:.0f}")
row("8 s WAV /H, wake-ups per s over all threads (paplay)", med("wav_ours", 3) / 8,
    med("wav_paplay", 3) / 8, "-", lambda v: f"{v:.0f}")
row("8 s WAV on ALSA /D:0 /H, CPU (aplay -D pulse)", med("alsa_ours", 1), med("alsa_aplay", 1), "<= 1.0")
row("8 s 192 kbit/s MP3 /H, CPU (mpg123 -o pulse)", med("mp3_ours", 1), med("mp3_mpg123", 1), "<= 0.7")
row("window shown, CPU per s of audio (vs /H)", med("window_ours", 1) / 8, med("wav_ours", 1) / 8, "<= 1.5")
row("peak RSS, window shown (vs /H)", med("window_ours", 2) / 1024, med("wav_ours", 2) / 1024,
    "< 16 MB", lambda v: f"{v:.1f} MB")
end = lambda k: statistics.median(x[1] for x in heard[k])
row("end: last sample at the sink -> exit, WAV /H (paplay)", end("wav_h"), end("wav_paplay"), "<= 60 ms")
row("end: the same, window shown (paplay)", end("wav_window"), end("wav_paplay"), "<= 60 ms")
print("floors that the 50 ms status timer sets on this machine:")
row("  the 50 ms timer alone over 8 s, CPU (paplay, 8 s WAV)", med("ticks_only", 1),
    med("wav_paplay", 1), "-")
row("  the same (aplay -D pulse, 8 s WAV)", med("ticks_only", 1), med("alsa_aplay", 1), "-")
print("floors of a start (display searched, stream opened and written; nothing else):")
row("  first sound, X and sound-server libraries only (paplay)", first("floor"),
    first("wav_paplay"), "-")
row("  first sound, every library the applet links (paplay)", first("floor_linked"),
    first("wav_paplay"), "-")
row("  first sound, WAV /H (that floor)", first("wav_h"), first("floor_linked"), "-")
row("  10 ms WAV CPU, X and sound-server libraries only (paplay)", med("short_floor", 1),
    med("short_paplay", 1), "-")
row("  10 ms WAV CPU, every library the applet links (paplay)", med("short_floor_linked", 1),
    med("short_paplay", 1), "-")
row("  10 ms WAV /H CPU (that floor)", med("short_ours", 1), med("short_floor_linked", 1), "-")
row("  10 ms WAV wall: paplay's + 25 ms mean wait for the tick (paplay)",
    med("short_paplay", 0) + 0.025, med("short_paplay", 0), "-")
for k in ("short_ours", "short_paplay", "wav_ours", "wav_paplay"):
    print(f"  {k}: CPU ms " + " ".join(f"{x[1] * 1000:.1f}" for x in res[k]), file=sys.stderr)
# A short file's end is seen by the first tick or the second (50 ms later), as the server
# starts playing within one of its blocks: the walls fall in two groups.
for k in ("short_ours", "short_paplay"):
    print(f"  {k}: wall ms " + " ".join(f"{x[0] * 1000:.0f}" for x in res[k]), file=sys.stderr)
for k in sounds:
    print(f"  {k}: first sound ms " + " ".join(f"{x[0] * 1000:.1f}" for x in heard[k]) +
          " | end ms " + " ".join(f"{x[1] * 1000:.0f}" for x in heard[k]), file=sys.stderr)
PY
}
exec scripts/testbed.sh bash -c "build=$build; rounds=$rounds; $(declare -f run); run"
