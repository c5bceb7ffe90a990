#!/usr/bin/env bash
# Makes assets/program.ico and assets/studio.bmp with ImageMagick (Debian's
# imagemagick package). The outputs are committed, so this only runs when the
# pictures change. Same tools, same bytes: neither format stores a date.
set -euo pipefail
cd "$(dirname "$0")"

violet='rgb(144,0,255)'
grey='rgb(236,236,236)'
face='rgb(247,240,255)'
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A stopwatch drawn at 256 px and scaled down. Small sizes get a plainer face
# (four ticks, thicker hands) because twelve ticks blur into a grey ring there.
stopwatch() { # <out.png> <detailed:0|1>
  local out=$1 detailed=$2 ticks=() step=30 tick_in=64 hand=12
  if [[ $detailed == 0 ]]; then step=90 tick_in=54 hand=18; fi
  for ((a = 0; a < 360; a += step)); do
    local inner=$tick_in
    if ((a % 90 != 0)); then inner=70; fi
    ticks+=(-draw "push graphic-context translate 128,146 rotate $a line 0,-$inner 0,-78 pop graphic-context")
  done
  convert -size 256x256 xc:none -fill "$violet" -stroke none \
    -draw 'roundrectangle 94,4 162,30 8,8' \
    -draw 'rectangle 114,24 142,56' \
    -draw 'push graphic-context translate 128,146 rotate 45 roundrectangle -13,-122 13,-90 4,4 pop graphic-context' \
    -draw 'circle 128,146 128,44' \
    -fill "$face" -draw 'circle 128,146 128,64' \
    -stroke "$violet" -strokewidth 10 "${ticks[@]}" \
    -stroke "$violet" -strokewidth "$hand" -draw 'line 128,146 128,96' \
    -draw 'push graphic-context translate 128,146 rotate 60 line 0,0 0,-60 pop graphic-context' \
    -stroke none -fill "$violet" -draw "circle 128,146 128,$((146 - hand))" \
    "$out"
}
stopwatch "$tmp/plain.png" 0
stopwatch "$tmp/detailed.png" 1

# Nine images, the classic Windows set: three sizes, each in 4-bit, 8-bit and
# 32-bit colour. Palette images carry transparency only in the AND mask, so
# their alpha is cut to on/off before quantising.
args=()
for size in 16 32 48; do
  master=$tmp/detailed.png
  if ((size < 32)); then master=$tmp/plain.png; fi
  convert "$master" -filter Lanczos -resize "${size}x${size}" "$tmp/$size.png"
  for colours in 16 256; do
    args+=(\( "$tmp/$size.png" -channel A -threshold 50% +channel
      +dither -colors "$colours" -type PaletteMatte \))
  done
  args+=("$tmp/$size.png")
done
# One command: a palette survives only in memory, a PNG round trip loses it.
convert "${args[@]}" program.ico

# The studio panel: violet to light grey and back, as the studio-name label's
# gradient, with the stopwatch and the studio's name. 24-bit BMP3, the plain
# Windows bitmap every reader knows.
font=$(fc-match -f '%{file}' 'WenQuanYi Zen Hei:style=Regular')
convert \
  \( -size 94x128 "gradient:$violet-$grey" -rotate -90 \) \
  \( -size 94x127 "gradient:$grey-$violet" -rotate -90 \) +append \
  \( "$tmp/detailed.png" -filter Lanczos -resize 56x56 \) -geometry +14+19 -composite \
  -font "$font" -fill 'rgb(72,0,128)' -pointsize 30 -annotate +78+52 'RUVO工作室' \
  -fill 'rgb(90,90,90)' -pointsize 12 -annotate +80+74 'R U V O   S T U D I O' \
  -alpha off -type TrueColor BMP3:studio.bmp
