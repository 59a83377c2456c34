#!/usr/bin/env bash
# The demo behind `make demo`: makes a small disc image with a few tracks of
# synthesised music and one data track, rips it with vorka the way a CD is
# ripped, and fades one track out with vorkfade.  Needs no root, writes only
# into demo/ at the top of the source tree (which git ignores), and reads
# neither the real home directory nor an installed configuration: vorka gets
# a home folder of its own inside demo/ with the shipped vorkarc in it.
#
#   tools/demo.sh [folder of the built programs]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build/default/bin}" && pwd)
# Paths are shown relative to the top of the source tree.
cd "$root"
bin=${bin#"$root/"}
out=demo
for program in vorka vorkfade vorka-mkimage; do
    if [ ! -x "$bin/$program" ]; then
        echo "$0: $bin/$program is not built (run: make build)" >&2
        exit 1
    fi
done

rm -rf "$out/disc" "$out/rip" "$out/home" "$out/fade.pcm" "$out/fade.wav"
mkdir -p "$out/disc" "$out/rip" "$out/home"
cp "$root/config/vorkarc" "$out/home/.vorkarc"

# Shows a command, then runs it; vorka's messages go to standard error, so
# they appear right under the command.
show() {
    echo
    echo "\$ $*"
    HOME=$root/$out/home "$@"
}

# Three tracks of music (15, 12 and 18 seconds; 75 sectors make a second)
# and a data track, as on an enhanced CD.
cue=$("$bin/vorka-mkimage" --music --name sample "$out/disc" \
    audio:1125 audio:900 audio:1350 mode1:300)
echo "== A sample disc image: $cue"

echo
echo "== The disc's table of contents (-i lists and reads nothing)"
show "$bin/vorka" -d "$cue" -i

echo
echo "== Ripping the three music tracks to WAV files, one per track"
show "$bin/vorka" -d "$cue" -t 1-3 -f wav -o "$out/rip/track%02d.%s"
ls -l "$out/rip"

echo
echo "== Track 3 as raw PCM, then a fade-out over its last six seconds"
show "$bin/vorka" -d "$cue" -q -t 3 -o "$out/fade.pcm"
show "$bin/vorkfade" -1 -0:06 "$out/fade.pcm"

# A WAV copy of the faded track for any player; the raw file plays as it is
# with "aplay -f cd demo/fade.pcm".
python3 -I - "$out/fade.pcm" "$out/fade.wav" <<'PY'
import sys, wave

with open(sys.argv[1], "rb") as raw, wave.open(sys.argv[2], "wb") as wav:
    wav.setnchannels(2)
    wav.setsampwidth(2)
    wav.setframerate(44100)
    wav.writeframes(raw.read())
PY

echo
echo "== Done.  Listen to the rip:     $out/rip/track01.wav ... track03.wav"
echo "           and the faded track:  $out/fade.wav"
