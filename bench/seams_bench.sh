#!/usr/bin/env bash
# Faults at the seams between the applet and the sound server, heard at the test sink's
# monitor, each case next to paplay (the peer) doing the same:
#   1. time stretch /T:50 and /T:150 of a 6 s sine: length heard and silent gaps inside it
#      (peer: sox tempo piped into paplay)
#   2. a stop (SIGTERM) at 10 moments of a 6 s file whose frames carry their own numbers:
#      frames heard out of sequence after the stop ("stale"), sound after the stop, stop to exit
#   3. the server frozen (SIGSTOP) for S s at T s of an 8 s numbered file: seconds of the file
#      heard (distinct frame numbers), exit time; and a stop while the server is frozen
#   4. hidden start of 96 kHz PCM16, 48 kHz PCM24 and a 192 kHz 8-channel float tone: gaps
#   5. punch-in /P:4001 and /P:4002 of the numbered file: frames in sequence, channels swapped
# A gap is a run of >= 2 ms with every |sample| < 30 inside the audible span. Runs inside the
# test bed, PulseAudio or PipeWire; SEAMS_CASES=25 runs cases 2 and 5 only.
#   scripts/testbed.sh bench/seams_bench.sh <quindle64>
#   QUINDLE_TESTBED_SERVER=pipewire scripts/testbed.sh bench/seams_bench.sh <quindle64>
set -euo pipefail
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: scripts/testbed.sh $0 <quindle64>" >&2; exit 2; }
[ -n "${PULSE_RUNTIME_PATH:-}" ] || { echo "$0: run it inside scripts/testbed.sh" >&2; exit 2; }
app=$(realpath "$1")
server=$(cd "$(dirname "$0")/../scripts" && pwd)/soundserver.sh
sound=$(dirname "$(dirname "$PULSE_RUNTIME_PATH")")  # the server's directory: <dir>/run/pulse
work=$(mktemp -d)
trap '"$server" thaw "$sound" 2>/dev/null; rm -rf "$work"' EXIT
unset DISPLAY  # nothing may wait for a click

sox -n -r 48000 -c 2 -b 16 "$work/sine6.wav" synth 6 sine 440 gain -6
sox -n -r 96000 -c 2 -b 16 "$work/r96.wav" synth 2 sine 440 gain -6
sox -n -r 48000 -c 2 -b 24 "$work/b24.wav" synth 2 sine 440 gain -6
sox -n -r 192000 -c 8 -e floating-point -b 32 "$work/f192.wav" synth 2 sine 1000
# Numbered frames: left carries the low 12 bits of the frame number, right the high bits,
# each code as -32760 + 16 * code, so that a server's float round trip (+-1) decodes the same.
python3 - "$work" <<'PY'
import array, sys, wave
for name, seconds in (("num6", 6), ("num8", 8)):
    s = array.array("h")
    for i in range(seconds * 48000):
        s.append(-32760 + 16 * (i & 4095)); s.append(-32760 + 16 * (i >> 12))
    with wave.open(f"{sys.argv[1]}/{name}.wav", "wb") as w:
        w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000); w.writeframes(s.tobytes())
PY

python3 - "$app" "$work" "$server" "$sound" "${SEAMS_CASES:-12345}" <<'PY'
import array, bisect, signal, statistics, subprocess, sys, threading, time
from subprocess import DEVNULL, PIPE
app, work, ss, sound, cases = sys.argv[1:6]
RATE, QUIET, GAP, HMAX = 48000, 30, 96, (8 * 48000) >> 12
notes = []

def ours(*args): return [[app, "/D:Test", "/H", *args]]
def peer(*args): return [["paplay", *args]]
def server(action): subprocess.run([ss, action, sound], stdout=DEVNULL, stderr=DEVNULL)

class Run:
    def time_of(self, frame):  # seconds after launch at which the recording held this frame
        i = min(bisect.bisect_left(self.ends, frame), len(self.ends) - 1)
        return self.reads[i] - (self.ends[i] - frame) / RATE

def play(cmds, events=(), limit=20.0, tail=0.6):
    """Records the monitor while the pipeline cmds runs (the last one is the player) and the
    events (seconds after launch, "term" | "freeze" | "thaw") happen; the server is thawed
    when the player has exited or the limit passed (then the pipeline is killed)."""
    rec = subprocess.Popen(["pacat", "-r", "-d", "testsink.monitor", "--raw", "--format=s16le",
                            "--rate=48000", "--channels=2", "--latency-msec=10"], stdout=PIPE)
    chunks = []
    def reader():
        while data := rec.stdout.read1(1 << 16):
            chunks.append((time.monotonic(), data))
    th = threading.Thread(target=reader, daemon=True); th.start()
    time.sleep(0.4)
    err = open(f"{work}/stderr", "w+")
    t0, procs = time.monotonic(), []
    for i, argv in enumerate(cmds):
        procs.append(subprocess.Popen(argv, stdin=procs[-1].stdout if procs else DEVNULL,
                                      stdout=PIPE if i < len(cmds) - 1 else DEVNULL, stderr=err))
    for p in procs[:-1]:
        p.stdout.close()
    r, pending, frozen = Run(), sorted(events), False
    r.exit = r.term = None
    while r.exit is None and time.monotonic() - t0 < limit:
        now = time.monotonic() - t0
        while pending and pending[0][0] <= now:
            what = pending.pop(0)[1]
            if what == "term":
                r.term = now; procs[-1].send_signal(signal.SIGTERM)
            else:
                server(what); frozen = what == "freeze"
        if procs[-1].poll() is not None:
            r.exit = time.monotonic() - t0
        time.sleep(0.002)
    if frozen:
        server("thaw")
    for p in procs:
        if p.poll() is None: p.kill()
        p.wait()
    time.sleep(tail)
    rec.terminate(); th.join(2); rec.wait()
    r.limit, r.s, r.reads, r.ends, n = limit, array.array("h"), [], [], 0
    data = b"".join(d for _, d in chunks)
    r.s.frombytes(data[:len(data) // 4 * 4])
    for t, d in chunks:
        n += len(d); r.ends.append(n // 4); r.reads.append(t - t0)
    # What the monitor delivered before the launch (a previous run's last blocks) is left out.
    start = max((e for e, t in zip(r.ends, r.reads) if t < 0), default=0)
    r.s, r.ends = r.s[2 * start:], [e - start for e in r.ends]
    err.seek(0); text = err.read().strip()
    if text:
        notes.append(f"{' '.join(cmds[-1][:1] + cmds[-1][3:])}: {text.splitlines()[-1]}")
    return r

def heard(r):
    """(seconds from the first to the last audible frame, gaps as (frame after the first
    audible one, length in frames), launch to first sound in s)"""
    s = r.s
    loud = [i for i, (a, b) in enumerate(zip(s[0::2], s[1::2]))
            if a >= QUIET or a <= -QUIET or b >= QUIET or b <= -QUIET]
    if not loud:
        return 0.0, [], None
    gaps = [(a + 1 - loud[0], b - a - 1) for a, b in zip(loud, loud[1:]) if b - a - 1 >= GAP]
    return (loud[-1] - loud[0] + 1) / RATE, gaps, r.time_of(loud[0])

def code(x):
    c = (x + 32760 + 8) >> 4
    return c if 0 <= c < 4096 and abs(x + 32760 - 16 * c) <= 6 else None

def number(lo, hi):
    a, b = code(lo), code(hi)
    return None if a is None or b is None or b > HMAX else a + (b << 12)

def numbers(r):
    """[(frame in the recording, file frame number heard)], and how many of them decode
    only with left and right swapped."""
    out, swapped, s = [], 0, r.s
    for i, (a, b) in enumerate(zip(s[0::2], s[1::2])):
        f = number(a, b)
        if f is None and (f := number(b, a)) is not None:
            swapped += 1
        if f is not None:
            out.append((i, f))
    return out, swapped

def stale(nums):
    """Frames heard out of sequence: earlier in the file than one heard before, or further on
    than the time passed at the monitor since then allows (frames lost to a dropout are not)."""
    # The sequence starts where 100 ms run on in order: stray blocks before it, from an
    # earlier run still in the server, are not this run's.
    k = next((k for k in range(len(nums) - 4800) if nums[k + 4800][1] == nums[k][1] + 4800), 0)
    if not nums: return 0
    (pi, pf), n = nums[k], 0
    for i, f in nums[k + 1:]:
        if pf < f <= pf + i - pi: pi, pf = i, f
        else: n += 1
    return n

def gaps_text(gaps):
    if not gaps: return "0"
    at, n = max(gaps, key=lambda g: g[1])
    return f"{len(gaps)}: {sum(g[1] for g in gaps) / 48:.0f} ms, max {n / 48:.0f} ms @{at / RATE:.2f}s"

def exit_text(r): return f"{r.exit:.2f}s" if r.exit is not None else f">{r.limit:.0f}s (killed)"
def ms(v): return f"{v * 1000:.0f}"
def row(*cells): print("| " + " | ".join(cells) + " |", flush=True)

print(f"server: {subprocess.run(['pactl', 'info'], stdout=PIPE, text=True).stdout.split('Server Name: ')[-1].splitlines()[0]}")
row("case", "expected", "ours heard", "ours gaps / more", "ours exit", "peer heard", "peer gaps / more", "peer exit")
row(*["---"] * 8)
details = []
if "1" in cases:
    for t, tempo, exp in ((50, "2", 3.0), (150, "0.666667", 9.0)):
        cells = []
        for cmds in (ours(f"/T:{t}", f"{work}/sine6.wav"),
                     [["sox", "-V1", f"{work}/sine6.wav", "-t", "wav", "-", "tempo", tempo], ["paplay"]]):
            r = play(cmds, limit=exp + 8)
            length, gaps, _ = heard(r)
            cells += [f"{length:.2f}s", gaps_text(gaps), exit_text(r)]
        row(f"1 /T:{t} 6 s sine (peer: sox tempo {tempo} into paplay)", f"{exp:.1f}s, 0 gaps", *cells)
if "2" in cases:
    moments, res = [round(0.5 + 0.6 * k, 1) for k in range(10)], {"ours": [], "peer": []}
    for m in moments:
        for who, cmds in (("ours", ours(f"{work}/num6.wav")), ("peer", peer(f"{work}/num6.wav"))):
            r = play(cmds, [(m, "term")], limit=m + 6)
            nums, _ = numbers(r)
            after = r.time_of(nums[-1][0]) - r.term if nums and r.term else float("nan")
            res[who].append((stale(nums), after, (r.exit - r.term) if r.exit else float("inf")))
    cells = []
    for who in ("ours", "peer"):
        st, after, ex = zip(*res[who])
        cells += [f"stale {sum(st)} ({sum(1 for x in st if x)}/{len(st)} runs)",
                  f"sound after TERM max {ms(max(after))} ms",
                  f"TERM->exit med {ms(statistics.median(ex))} max {ms(max(ex))} ms"]
        details.append(f"2 stale frames per stop {moments}: {who} {list(st)}; "
                       f"sound after TERM ms {[round(x * 1000) for x in after]}")
    row(f"2 SIGTERM at {moments[0]}..{moments[-1]} s, 6 s numbered", "stale 0", *cells)
if "3" in cases:
    for stall, at in ((0.3, 3.0), (1.0, 3.0), (2.0, 6.5), (8.0, 6.5), (8.0, 7.8)):
        cells = []
        for cmds in (ours(f"{work}/num8.wav"), peer(f"{work}/num8.wav")):
            r = play(cmds, [(at, "freeze"), (at + stall, "thaw")], limit=at + stall + 10)
            nums, _ = numbers(r)
            cells += [f"{len(set(f for _, f in nums)) / RATE:.2f}s of file",
                      f"stale {stale(nums)}, gaps {gaps_text(heard(r)[1])}", exit_text(r)]
        row(f"3 freeze {stall} s at {at} s, 8 s numbered", "8.00s; exit ~8+S s, or ends 3 s into a longer stall",
            *cells)
    cells = []
    for cmds in (ours(f"{work}/num8.wav"), peer(f"{work}/num8.wav")):
        r = play(cmds, [(1.0, "freeze"), (1.5, "term"), (9.5, "thaw")], limit=15)
        cells += ["-", "-", f"TERM->exit {ms(r.exit - r.term)} ms" if r.exit else exit_text(r)]
    row("3 freeze at 1.0 s, SIGTERM at 1.5 s", "exit soon after TERM", *cells)
if "4" in cases:
    for name, ours_cmd, term, peer_file in (
            ("96 kHz PCM16 2 s", ours(f"{work}/r96.wav"), [], "r96.wav"),
            ("48 kHz PCM24 2 s", ours(f"{work}/b24.wav"), [], "b24.wav"),
            ("tone ~S192000,C8,TFLOAT32 2 s (peer: sox file)", ours("~S192000,C8,TFLOAT32"),
             [(2.0, "term")], "f192.wav")):
        peer_cmd = peer(f"{work}/{peer_file}")
        res = {"ours": [], "peer": []}
        for _ in range(4):
            for who, cmds, ev in (("ours", ours_cmd, term), ("peer", peer_cmd, [])):
                r = play(cmds, ev, limit=8)
                length, gaps, first = heard(r)
                res[who].append((length, gaps, r))
        cells = []
        for who in ("ours", "peer"):
            runs = res[who]
            allgaps = [g for _, gaps, _ in runs for g in gaps]
            cells += [f"{statistics.median(x[0] for x in runs):.2f}s",
                      f"{sum(1 for x in runs if x[1])}/4 runs; {gaps_text(allgaps)}",
                      " ".join(exit_text(x[2]) for x in runs)]
            details.append(f"4 {name}: {who} gaps per run {[len(x[1]) for x in runs]}")
        row(f"4 /H {name}", "2.00s, 0 gaps", *cells)
if "5" in cases:
    for p in (4001, 4002):
        cells = []
        for cmds in (ours(f"/P:{p}", f"{work}/num6.wav"),
                     [["sox", "-V1", f"{work}/num6.wav", "-t", "wav", "-", "trim", f"{p // 4}s"], ["paplay"]]):
            r = play(cmds, limit=12)
            nums, swapped = numbers(r)
            seq = sum(1 for a, b in zip(nums, nums[1:]) if b[1] == a[1] + 1) / max(1, len(nums) - 1)
            first = nums[0][1] if nums else None
            cells += [f"{len(nums) / RATE:.2f}s numbered, first frame {first}",
                      f"+1 seq {seq * 100:.1f}%, swapped {swapped * 100 / max(1, len(nums)):.1f}%",
                      exit_text(r)]
        row(f"5 /P:{p} 6 s numbered (peer: sox trim {p // 4}s into paplay)",
            f"frame {p // 4}.., 100% seq, 0% swapped", *cells)
for line in details + [f"stderr of {n}" for n in dict.fromkeys(notes)]:
    print("  " + line)
PY
