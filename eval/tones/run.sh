#!/bin/bash
# The tone-command evaluation, run by hand (not part of the test suite): both command methods
# of ondrix-scan and multimon-ng on the same generated cases and on hours of speech and music
# without commands. One summary line per method. Everything generated goes to eval/out/tones/
# (git-ignored). Needs: a built ondrix-scan (scripts/test.sh or cmake --build build), and the
# Debian packages multimon-ng, espeak-ng, sox, bc, planetblupi-music-ogg, colobot-common-sounds.
#   eval/tones/run.sh                    # cases and the full programme (about 6 hours of audio)
#   PROGRAMME=none eval/tones/run.sh     # the cases only
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
OUT=$ROOT/eval/out/tones
SCAN=${SCAN:-$ROOT/build/bin/ondrix-scan}
FREQ=$ROOT/resources/Ini_Def/Freq.ini
mkdir -p "$OUT"
for tool in multimon-ng espeak-ng sox soxi bc python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install multimon-ng espeak-ng sox bc)" >&2; exit 1; }
done
[ -x "$SCAN" ] || { echo "missing: $SCAN (build the project first)" >&2; exit 1; }
MUSIC=$(ls /usr/share/planetblupi/music/*.ogg /usr/share/games/colobot/music/*.ogg 2>/dev/null || true)
[ -n "$MUSIC" ] || { echo "missing: apt-get install planetblupi-music-ogg colobot-common-sounds" >&2; exit 1; }

# Speech: 150 minutes or more from espeak-ng.
MINUTES=${MINUTES:-150} nice -n 10 "$HERE/make_speech.sh" "$OUT/speech"

# Beds for the cases: the first speech files and one music piece, as raw 44100 Hz mono.
if [ ! -s "$OUT/bed-speech.raw" ]; then
  sox $(ls "$OUT"/speech/*.wav | head -4) -t raw -r 44100 -c 1 -b 16 -e signed-integer -L "$OUT/bed-speech.raw"
  sox $(echo "$MUSIC" | head -3) -t raw -r 44100 -c 1 -b 16 -e signed-integer -L "$OUT/bed-music.raw" 2>/dev/null ||
    sox "$(echo "$MUSIC" | head -1)" -t raw -r 44100 -c 1 -b 16 -e signed-integer -L "$OUT/bed-music.raw"
fi
[ -s "$OUT/cases/cases.json" ] ||
  nice -n 10 python3 "$HERE/make_cases.py" --out "$OUT/cases" --speech "$OUT/bed-speech.raw" --music "$OUT/bed-music.raw"

PROGRAMME_FILES=()
if [ "${PROGRAMME:-all}" != none ]; then
  mapfile -t PROGRAMME_FILES < <(ls "$OUT"/speech/*.wav; echo "$MUSIC")
fi
nice -n 10 python3 "$HERE/score.py" --out "$OUT/cases" --scan "$SCAN" --freq "$FREQ" --programme "${PROGRAMME_FILES[@]}" |
  tee "$OUT/summary.txt"
