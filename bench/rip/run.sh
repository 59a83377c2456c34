#!/usr/bin/env bash
# How fast vorka rips a whole disc image into WAV files, next to the plain
# copy of the image's BIN file that dd makes with the reader's own chunk size
# (bs=61152, 26 sectors), and to bchunk's split of the same image into WAV
# files when bchunk is installed.
#
#   bench/rip/run.sh [folder of the built programs] [minutes, at least 60] [rounds]
#
# The image is made in a fresh folder under TMPDIR (or /tmp) and read once
# beforehand, so that every run finds it in the page cache; dirty pages are
# flushed before each timed run and not counted.  The best of the rounds
# counts.  The folder is removed at the end, also after a failure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/default/bin}" && pwd)
minutes=${2:-60}
rounds=${3:-5}
target_percent=80
tracks=12

# shellcheck source=bench/common.sh
. "$root/bench/common.sh"

need_built vorka vorka-mkimage
need_minutes "$minutes" "the reading"
make_work rip

sectors=$((minutes * 4500))
bytes=$((sectors * 2352))
# The image, the rip and one copy (dd's or bchunk's) at a time, plus a margin.
need_free_kib $((3 * bytes / 1024 + 256 * 1024))

# Twelve audio tracks of equal length in one BIN file.
equal_tracks "$sectors" "$tracks"
mkdir "$work/image"
cue=$("$bin/vorka-mkimage" --name disc "$work/image" "${specs[@]}")
bin_file=$work/image/disc.bin
[ -f "$bin_file" ] || bin_file=$(ls "$work"/image/*.bin | head -n 1)
bytes=$(stat -c %s "$bin_file")
cat "$bin_file" >/dev/null

make_home

rip() {
    HOME=$work/home "$bin/vorka" -q -d "$cue" -f wav -o "$work/rip/track%02d.%s"
}

best_dd=
best_rip=
for _ in $(seq "$rounds"); do
    rm -rf "$work/rip" "$work/copy.bin"
    mkdir "$work/rip"
    t=$(time_ns dd if="$bin_file" of="$work/copy.bin" bs=61152 status=none)
    best_dd=$(min "${best_dd:-$t}" "$t")
    rm -f "$work/copy.bin"
    t=$(time_ns rip)
    best_rip=$(min "${best_rip:-$t}" "$t")
done
ripped=$(ls "$work/rip" | wc -l)
if [ "$ripped" -ne "$tracks" ]; then
    echo "$0: vorka wrote $ripped files, expected $tracks" >&2
    exit 1
fi
rm -rf "$work/rip"

rate() { rate_of "$bytes" "$1"; }

echo "image: $minutes minutes, $tracks audio tracks, $((bytes / 1000000)) MB in the page cache,"
echo "best of $rounds rounds (MB = 10^6 bytes)"
echo "dd bs=61152, BIN copy:            $(rate "$best_dd")"
echo "vorka -f wav, one file per track: $(rate "$best_rip")"
awk -v dd="$best_dd" -v rip="$best_rip" -v target="$target_percent" 'BEGIN {
    percent = dd * 100 / rip
    printf "vorka / dd:                       %8.0f %%  (target >= %d %%: %s)\n",
           percent, target, (percent >= target ? "met" : "NOT met")
}'

if command -v bchunk >/dev/null 2>&1; then
    mkdir "$work/split"
    t=$(time_ns bchunk -w "$bin_file" "$cue" "$work/split/track")
    echo "bchunk -w, one file per track:    $(rate "$t")"
else
    echo "bchunk: not installed, not measured"
fi
