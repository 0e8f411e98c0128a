#!/bin/bash
# Synthetic speech for the tone-command evaluation: the licence texts Debian ships, read by
# espeak-ng in several voices, pitches and speeds, until at least MINUTES minutes are spoken.
# Writes 22050 Hz mono WAV files into OUT (default eval/out/tones/speech).
set -euo pipefail
OUT=${1:-$(dirname "$0")/../out/tones/speech}
MINUTES=${MINUTES:-150}
mkdir -p "$OUT"

# voice, pitch (0-99), words per minute
VOICES=(
  "en-us 40 160" "en-gb+f3 60 170" "en-gb-scotland 30 150" "en+m3 50 180"
  "en-us+f2 70 165" "en-029 45 155" "en-gb-x-rp+f4 55 175" "en+m7 35 145"
)
TEXTS=(/usr/share/common-licenses/*)

seconds() { soxi -D "$1" 2>/dev/null || echo 0; }
total=0
for f in "$OUT"/*.wav; do [ -e "$f" ] && total=$(echo "$total + $(seconds "$f")" | bc); done
i=0
while [ "$(echo "$total < $MINUTES * 60" | bc)" = 1 ]; do
  text=${TEXTS[$((i % ${#TEXTS[@]}))]}
  set -- ${VOICES[$((i % ${#VOICES[@]}))]}
  file=$(printf '%s/speech-%03d.wav' "$OUT" "$i")
  if [ ! -s "$file" ]; then
    # A few thousand words per file; the voices take turns.
    head -c 20000 "$text" | tr -s ' \n' ' ' | nice -n 10 espeak-ng -v "$1" -p "$2" -s "$3" -w "$file" 2>/dev/null
  fi
  total=$(echo "$total + $(seconds "$file")" | bc)
  i=$((i + 1))
done
echo "speech: $(printf '%.1f' "$(echo "$total / 60" | bc -l)") minutes in $OUT" >&2
