#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets under <build dir>/corpus/<target>/ from files
# made here: our own writer's RIFF files, sox-made WAV files in several encodings, lame and
# twolame streams (bare, behind ID3v2 tags, behind junk), DAF files, hand-built damaged
# headers, sample command lines and tone settings.
# Usage: fuzz/make_corpus.sh [build dir, default build/fuzz]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/fuzz}
corpus=$build/corpus
writer=$build/fuzz/fuzz_corpus_writer
[ -x "$writer" ] || { echo "missing $writer: build the fuzz_targets first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$corpus"
for t in command_line wav_read wav_write mpeg daf tone; do mkdir -p "$corpus/fuzz_$t"; done
cl=$corpus/fuzz_command_line wr=$corpus/fuzz_wav_read ww=$corpus/fuzz_wav_write
mp=$corpus/fuzz_mpeg daf=$corpus/fuzz_daf tone=$corpus/fuzz_tone

# Little-endian numbers as raw bytes.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
chunk() {  # chunk <id> <size field> <file with the body>
    printf '%s' "$1"; le32 "$2"; cat "$3"
}

# --- RIFF WAVE: our writer, sox, hand-built headers -------------------------------------
"$writer" "$wr" "$ww"

sox -n -r 8000 -c 1 -b 8 -e unsigned "$work/src-u8.wav" synth 0.01 sine 440
sox -n -r 44100 -c 2 -b 16 "$wr/sox-pcm16.wav" synth 0.01 sine 440
sox -n -r 48000 -c 1 -b 24 "$wr/sox-pcm24.wav" synth 0.01 sine 440
sox -n -r 22050 -c 2 -b 32 -e float "$wr/sox-float.wav" synth 0.01 sine 440
sox -n -r 48000 -c 6 -b 16 "$wr/sox-6ch-extensible.wav" synth 0.005 sine 440
sox -n -r 8000 -c 1 -e a-law "$wr/sox-alaw.wav" synth 0.02 sine 440
sox -n -r 8000 -c 1 -e u-law "$wr/sox-ulaw.wav" synth 0.02 sine 440
sox -n -r 8000 -c 1 -e ima-adpcm "$wr/sox-ima-adpcm.wav" synth 0.05 sine 440
sox -n -r 8000 -c 2 -e ms-adpcm "$wr/sox-ms-adpcm.wav" synth 0.05 sine 440
sox -n -r 11025 -c 1 -e gsm-full-rate "$wr/sox-gsm.wav" synth 0.05 sine 440 2>/dev/null || true
sox -n --comment "quindle seed" -r 8000 -c 1 -b 16 "$wr/sox-comment.wav" synth 0.01 sine 440
cp "$work/src-u8.wav" "$wr/sox-u8.wav"

# Hand-built: a PCM16 mono fmt body and a few data bytes.
{ le16 1; le16 1; le32 8000; le32 16000; le16 2; le16 16; } >"$work/fmt16"
{ cat "$work/fmt16"; le16 0; } >"$work/fmt18"
printf 'abcdefghij' >"$work/data10"
printf 'abcdefghi' >"$work/data9"
printf 'INFOISFT\x04\x00\x00\x00seed' >"$work/list"
riff() {  # riff <out> <parts...>: RIFF WAVE form with the right size around the parts
    local out=$1; shift
    cat "$@" >"$work/body"
    { printf 'RIFF'; le32 $(( $(stat -c %s "$work/body") + 4 )); printf 'WAVE'; cat "$work/body"; } >"$out"
}
chunk 'fmt ' 16 "$work/fmt16" >"$work/c-fmt16"
chunk 'fmt ' 18 "$work/fmt18" >"$work/c-fmt18"
chunk 'fmt ' 8 <(head -c 8 "$work/fmt16") >"$work/c-fmt-short"
chunk 'data' 10 "$work/data10" >"$work/c-data10"
chunk 'data' 9 "$work/data9" >"$work/c-data9"
{ cat "$work/c-data9"; printf '\0'; } >"$work/c-data9-pad"
chunk 'data' 1000000 "$work/data10" >"$work/c-data-long"
chunk 'LIST' 16 "$work/list" >"$work/c-list"
riff "$wr/hand-plain.wav" "$work/c-fmt16" "$work/c-data10"
riff "$wr/hand-fmt18.wav" "$work/c-fmt18" "$work/c-data10"
riff "$wr/hand-data-first.wav" "$work/c-data10" "$work/c-fmt16"
riff "$wr/hand-odd-pad-list.wav" "$work/c-fmt16" "$work/c-data9-pad" "$work/c-list"
riff "$wr/hand-list-before.wav" "$work/c-list" "$work/c-fmt16" "$work/c-data10"
riff "$wr/hand-data-too-long.wav" "$work/c-fmt16" "$work/c-data-long"
riff "$wr/hand-fmt-short.wav" "$work/c-fmt-short" "$work/c-data10"
riff "$wr/hand-no-data.wav" "$work/c-fmt16"
riff "$wr/hand-empty-form.wav"
{ printf 'RIFF'; le32 4; printf 'WAVE'; cat "$work/c-fmt16" "$work/c-data10"; } >"$wr/hand-riff-too-small.wav"
{ printf 'RIFF'; le32 4294967295; printf 'WAVE'; cat "$work/c-fmt16" "$work/c-data10"; } >"$wr/hand-riff-huge.wav"
head -c 30 "$wr/hand-plain.wav" >"$wr/hand-truncated.wav"
printf 'RIFX\0\0\0\0WAVE' >"$wr/hand-rifx.wav"

# --- MPEG audio and DAF -----------------------------------------------------------------
sox -n -r 44100 -c 2 -b 16 "$work/s44.wav" synth 0.08 sine 440
sox -n -r 48000 -c 1 -b 16 "$work/m48.wav" synth 0.08 sine 440
sox -n -r 22050 -c 2 -b 16 "$work/s22.wav" synth 0.1 sine 440
sox -n -r 16000 -c 1 -b 16 "$work/m16.wav" synth 0.1 sine 440
lame --quiet -b 32 "$work/s44.wav" "$mp/lame-mpeg1-cbr.mp3"
lame --quiet -V 9 "$work/s44.wav" "$mp/lame-mpeg1-vbr-info.mp3"
lame --quiet -t -m m -b 32 "$work/m48.wav" "$mp/lame-mono-no-info.mp3"
lame --quiet -b 16 "$work/s22.wav" "$mp/lame-mpeg2.mp3"
lame --quiet -b 8 "$work/m16.wav" "$mp/lame-mpeg2-mono.mp3"
lame --quiet -b 32 --add-id3v2 --tt seed "$work/s44.wav" "$mp/lame-id3v2.mp3"
twolame --quiet -b 64 "$work/s44.wav" "$mp/twolame-mpeg1.mp2"
twolame --quiet -m m -b 32 "$work/m48.wav" "$mp/twolame-mono.mp2"
twolame --quiet -b 32 "$work/s22.wav" "$mp/twolame-mpeg2.mp2"
# An ID3v2.4 tag with a footer, junk before the first frame, a frame cut short.
{ printf 'ID3\x04\x00\x10\x00\x00\x00\x04abcd3DI\x04\x00\x10\x00\x00\x00\x04'; cat "$mp/twolame-mono.mp2"; } >"$mp/hand-id3-footer.mp2"
{ printf 'junk before the first frame\xff\x00'; cat "$mp/twolame-mono.mp2"; } >"$mp/hand-junk.mp2"
{ printf 'ID3\x03\x00\x00\x00\x00\x00\x02ab'; printf 'xx\xff\xfb'; } >"$mp/hand-id3-cut.mp3"
head -c 3 "$mp/lame-mpeg1-cbr.mp3" >"$mp/hand-three-bytes.mp3"

head -c 256 /dev/zero >"$work/daf-header"
cat "$work/daf-header" "$mp/twolame-mpeg1.mp2" >"$daf/daf-mpeg.daf"
cat "$work/daf-header" "$mp/lame-mpeg1-cbr.mp3" >"$daf/daf-mp3.daf"
{ cat "$work/daf-header"; sox "$work/s44.wav" -t raw - trim 0 0.02; } >"$daf/daf-pcm.daf"
{ cat "$work/daf-header"; printf '\xff\xf4\x00\x00'; } >"$daf/daf-bad-layer.daf"
head -c 200 /dev/zero >"$daf/daf-short.daf"

# --- Command lines (text, NUL, device names one per line) ------------------------------
n=0
cmdline() { printf '%s\0%s' "$1" "${2-}" >"$cl/seed-$n"; n=$((n + 1)); }
devices=$'Built-in Audio Analog Stereo\nUSB Audio Device\nQDL7310 /04\n\xc3\xa4rger Lautsprecher\nNull Output'
cmdline '/D:1 test.wav' "$devices"
cmdline '/D:"1 - QDL7310 /04" test.wav /H' "$devices"
cmdline '-s:110 /t:90 /P:4096 /L /B file.mp3' "$devices"
cmdline '/I:500,5000,250 /L "a file with blanks.wav"' ""
cmdline '/I:-1,5000,100 /X /Y:2 /Z:' ""
cmdline '/E /Q' "$devices"
cmdline '  /d:usb   ~F440,S44100,TPCM16,C2  ' "$devices"
cmdline $'/D:\xc3\x84RGER "x"y"z" - / /Lx\tname.daf' "$devices"
cmdline '/I:2147483647,2147483647,2147483647 /P:99999999999 null' ""
cmdline '/D:analog stereo null' "$devices"

# --- Tone settings (text after '~', NUL, read sizes) -----------------------------
n=0
tone_seed() { printf '%s\0\x00\x10\x00\x00\xff\x0f\x00\x00\x03\x00\x00\x00' "$1" >"$tone/seed-$n"; n=$((n + 1)); }
tone_seed 'F440,S44100,TPCM16,C2'
tone_seed 'F1000,S48000,TPCM24,C6,M101010'
tone_seed 'A-6,F50,S8000,TPCM8,C1'
tone_seed 'F12000,S192000,TFLOAT32,C8,M0'
tone_seed 'A20,F440,S96000,TPCM32,C128'
tone_seed 'WSINE,F-440,C4,M0110,Tpcm16'
tone_seed 'F1e300,A1e300,S8000,TFLOAT32'
tone_seed 'X,,C3,F440'
tone_seed 'Wsquare'

echo "corpus in $corpus:"
for d in "$corpus"/*; do echo "  $(basename "$d"): $(ls "$d" | wc -l) files"; done
