#!/bin/sh
# Builds the small MP3 files of the playback tests (committed beside this
# script). The two short tones differ in rate and channels so that a test can
# tell from the opened output which one plays.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
SOX="sox -D -R -V1"

$SOX -n -r 48000 -c 2 -b 16 "$tmp/a.wav" synth 0.4 sine 440 gain -6
lame --quiet -m j -b 128 --cbr "$tmp/a.wav" "$here/playback-a.mp3"

$SOX -n -r 44100 -c 1 -b 16 "$tmp/b.wav" synth 0.3 sine 660 gain -6
lame --quiet -m m -b 64 --cbr "$tmp/b.wav" "$here/playback-b.mp3"

# A longer, loud tone for pause tests and for the sound check on a real
# audio server.
$SOX -n -r 48000 -c 2 -b 16 "$tmp/long.wav" synth 3 sine 523.25 gain -3
lame --quiet -m j -b 128 --cbr "$tmp/long.wav" "$here/playback-long.mp3"
