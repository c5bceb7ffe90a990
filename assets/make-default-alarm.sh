#!/bin/sh
# Builds assets/default-alarm.mp3, the default alarm sound of both programs:
# the Westminster chime (a public-domain tune) on a synthesised bell, five
# times over, about 30 s. Needs sox and lame. The result is committed; run
# this again only to change the sound.
#   MPEG-1 Layer III, 48 kHz, 128 kbit/s CBR, joint stereo.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/default-alarm.mp3}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# -D and -R keep the output byte-for-byte the same from run to run.
SOX="sox -D -R -V1"
RATE=48000
STEP=0.5    # seconds between the strokes of a phrase
CYCLE=6     # one cycle: two phrases of four strokes and a rest
CYCLES=5

# A bell stroke: a few partials of the note (the upper ones slightly
# inharmonic, as a struck bell has) dying away over 1.4 s.
bell() {
    name=$1 freq=$2
    set -- $(awk -v f="$freq" 'BEGIN { printf "%.2f %.2f %.2f %.2f", f, f*2.0, f*3.01, f*4.18 }')
    $SOX -n -r $RATE -c 4 "$tmp/p-$name.wav" synth 1.4 sine "$1" sine "$2" sine "$3" sine "$4"
    $SOX "$tmp/p-$name.wav" -c 1 "$tmp/$name.wav" remix 1v0.55,2v0.22,3v0.12,4v0.06 \
        fade h 0.004 1.4 1.35
}

# Note frequencies (equal temperament, A4 = 440 Hz).
bell G4 392.00
bell C5 523.25
bell D5 587.33
bell E5 659.26

# The two phrases: E C D G | G D E C, then a rest up to the end of the cycle.
i=0
inputs=""
for note in E5 C5 D5 G4 - G4 D5 E5 C5; do
    if [ "$note" != - ]; then
        at=$(awk -v i="$i" -v s="$STEP" 'BEGIN { printf "%.3f", i*s }')
        $SOX "$tmp/$note.wav" "$tmp/s$i.wav" pad "$at" 0
        inputs="$inputs $tmp/s$i.wav"
    fi
    i=$((i + 1))
done
$SOX -m $inputs "$tmp/phrase.wav" pad 0 "$CYCLE" trim 0 "$CYCLE"

# Repeat, add a little room, and make it stereo at a comfortable level.
$SOX "$tmp/phrase.wav" "$tmp/all.wav" repeat $((CYCLES - 1)) \
    reverb 30 50 70 \
    gain -n -4 \
    channels 2 rate $RATE trim 0 $((CYCLE * CYCLES))
$SOX "$tmp/all.wav" -b 16 "$tmp/final.wav"

lame --quiet -m j -b 128 --cbr -q 2 --resample 48 "$tmp/final.wav" "$out"
