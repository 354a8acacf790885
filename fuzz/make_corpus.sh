#!/usr/bin/env bash
# Builds the seed corpus under <build dir>/corpus/fuzz_file/: sox-made WAV files in several
# encodings, damaged headers, lame and twolame streams and DAF files; and under
# corpus/fuzz_command_line/ command lines with device names and shell words.
# Usage: fuzz/make_corpus.sh [build dir, default build/fuzz]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-$root/build/fuzz}/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$corpus"
f=$corpus/fuzz_file
mkdir -p "$f"

for enc in '-b 8 -e unsigned' '-c 2 -b 16' '-b 24' '-c 2 -b 32 -e float' '-c 6 -b 16' \
    '-e a-law' '-c 2 -e ms-adpcm'; do
    sox -n -r 8000 -c 1 $enc "$f/sox$(echo "$enc" | tr -d ' -').wav" synth 0.02 sine 440
done
head -c 30 "$f/soxc2b16.wav" >"$f/truncated.wav"
{ head -c 40 "$f/soxc2b16.wav"; printf '\x40\x42\x0f\x00'; tail -c +45 "$f/soxc2b16.wav"; } >"$f/data-too-long.wav"

sox -n -r 44100 -c 2 -b 16 "$work/s44.wav" synth 0.08 sine 440
sox -n -r 22050 -c 1 -b 16 "$work/m22.wav" synth 0.1 sine 440
lame --quiet -V 9 "$work/s44.wav" "$f/lame-vbr-info.mp3"
lame --quiet -b 8 "$work/m22.wav" "$f/lame-mpeg2.mp3"
lame --quiet -b 32 --add-id3v2 --tt seed "$work/s44.wav" "$f/lame-id3v2.mp3"
twolame --quiet -b 64 "$work/s44.wav" "$f/twolame.mp2"
twolame --quiet -m m -b 32 "$work/m22.wav" "$f/twolame-mpeg2.mp2"
{ head -c 256 /dev/zero; printf 'junk before the first frame\xff\x00'; cat "$f/twolame.mp2"; } >"$f/mpeg.daf"
{ head -c 256 /dev/zero; sox "$work/s44.wav" -t raw - trim 0 0.02; } >"$f/pcm.daf"

c=$corpus/fuzz_command_line
mkdir -p "$c"
printf '/D:1 test.wav /H\0Null Output\nTest Sink\n/D:"Test Sink"' >"$c/device"
printf '/L /I:2000,0,500 /P:44 /S:110 /T:90 /B "a b.wav"\0q"x.wav\n/É\n' >"$c/options"
