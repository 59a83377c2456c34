#!/usr/bin/env bash
# The demo behind `make demo`: runs the built programs on data made on the
# spot.  Needs no root, writes only into demo/ at the top of the source tree
# (which git ignores) and leaves the home directory alone.
#
#   tools/demo.sh [folder of the built programs]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build/default/bin}" && pwd)
out=$root/demo
mkdir -p "$out"

tone=$out/tone.pcm
seconds=6

# Six seconds of an A major chord as raw PCM, the layout vorkfade edits:
# 44.1 kHz, signed 16-bit little-endian, left then right.  The right channel
# is detuned by a hair so the chord breathes between the speakers.
python3 -I - "$tone" "$seconds" <<'PY'
import array, math, sys

path, seconds = sys.argv[1], int(sys.argv[2])
rate = 44100
notes = (220.00, 277.18, 329.63, 440.00)   # A3, C#4, E4, A4
frames = array.array("h")
for n in range(seconds * rate):
    t = n / rate
    left = sum(math.sin(2 * math.pi * f * t) for f in notes)
    right = sum(math.sin(2 * math.pi * f * 1.003 * t) for f in notes)
    frames.append(int(7000 * left))
    frames.append(int(7000 * right))
if sys.byteorder == "big":
    frames.byteswap()
with open(path, "wb") as out:
    frames.tofile(out)
PY
echo "== a ${seconds}-second A major chord, raw PCM: $tone"
echo

echo "== vorkfade 0 0:01.5 (fade-in over the first second and a half)"
"$bin/vorkfade" 0 0:01.5 "$tone"
echo
echo "== vorkfade -1 -0:02 (fade-out over the last two seconds)"
"$bin/vorkfade" -1 -0:02 "$tone"
echo

# A WAV copy for any player; the raw file plays as it is with
# "aplay -f cd demo/tone.pcm".
python3 -I - "$tone" "$out/tone.wav" <<'PY'
import sys, wave

with open(sys.argv[1], "rb") as raw, wave.open(sys.argv[2], "wb") as wav:
    wav.setnchannels(2)
    wav.setsampwidth(2)
    wav.setframerate(44100)
    wav.writeframes(raw.read())
PY
echo "== the faded chord: $tone (raw) and $out/tone.wav"
