#!/usr/bin/env bash
# What ripping a whole disc image to FLAC costs: vorka -f flac, one file per
# track, next to flac -8 --silent on the WAV files of the same rip (the
# encoding alone, no reading), and next to vorka -f wav (the reading alone).
#
#   bench/flac/run.sh [folder of the built programs] [minutes, at least 60] [rounds]
#
# The image holds music-like audio (what vorka-mkimage --music makes), in a
# fresh folder under TMPDIR (or /tmp), read once beforehand so that every
# run finds it in the page cache; dirty pages are flushed before each timed
# run and not counted.  The median of the rounds counts.  The folder is
# removed at the end, also after a failure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/default/bin}" && pwd)
minutes=${2:-60}
rounds=${3:-5}
target_ratio=1.10
tracks=12

# shellcheck source=bench/common.sh
. "$root/bench/common.sh"

need_built vorka vorka-mkimage
need_installed flac
need_minutes "$minutes" "the encoding"
make_work flac

sectors=$((minutes * 4500))
bytes=$((sectors * 2352))
# The image, the WAV rip and one FLAC rip, plus a margin.
need_free_kib $((3 * bytes / 1024 + 256 * 1024))

equal_tracks "$sectors" "$tracks"
mkdir "$work/image" "$work/flac"
cue=$("$bin/vorka-mkimage" --music --name disc "$work/image" "${specs[@]}")
cat "$work"/image/*.bin >/dev/null
make_home

vorka_rip() {
    HOME=$work/home "$bin/vorka" -q -d "$cue" -f "$1" -o "$2/track%02d.%s"
}

# The WAV files that flac encodes, made by the first timed WAV rip.
rip_wav() {
    rm -rf "$work/wav"
    mkdir "$work/wav"
    vorka_rip wav "$work/wav"
}

encode_wav() {
    flac -8 --silent -f "$work"/wav/track*.wav
}

rip_flac() {
    rm -f "$work"/flac/*
    vorka_rip flac "$work/flac"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

wav_times=()
flac_tool_times=()
vorka_flac_times=()
for _ in $(seq "$rounds"); do
    wav_times+=("$(time_ns rip_wav)")
    flac_tool_times+=("$(time_ns encode_wav)")
    rm -f "$work"/wav/*.flac
    vorka_flac_times+=("$(time_ns rip_flac)")
done

# Both encoders make the same FLAC stream of the same audio.
written=$(ls "$work"/flac/*.flac | wc -l)
if [ "$written" -ne "$tracks" ]; then
    echo "$0: vorka wrote $written FLAC files, expected $tracks" >&2
    exit 1
fi
flac -t --silent "$work"/flac/*.flac

wav=$(printf '%s\n' "${wav_times[@]}" | median)
tool=$(printf '%s\n' "${flac_tool_times[@]}" | median)
ours=$(printf '%s\n' "${vorka_flac_times[@]}" | median)
flac_bytes=$(cat "$work"/flac/*.flac | wc -c)

ms() { awk -v ns="$1" 'BEGIN { printf "%8.0f ms", ns / 1e6 }'; }

echo "image: $minutes minutes, $tracks audio tracks, $((bytes / 1000000)) MB in the page cache,"
echo "median of $rounds rounds; FLAC files $((flac_bytes / 1000000)) MB"
echo "vorka -f wav, one file per track:        $(ms "$wav")"
echo "flac -8 --silent on those WAV files:     $(ms "$tool")"
echo "vorka -f flac, one file per track:       $(ms "$ours")"
awk -v ours="$ours" -v tool="$tool" -v target="$target_ratio" 'BEGIN {
    ratio = ours / tool
    printf "vorka -f flac / flac -8:                 %8.2f x  (target <= %.2f x: %s)\n",
           ratio, target, (ratio <= target ? "met" : "NOT met")
}'
