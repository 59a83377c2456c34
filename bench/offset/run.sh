#!/usr/bin/env bash
# How much the read offset correction costs: vorka rips a disc image from an
# emulated drive with a read offset of +667 samples into WAV files, once
# uncorrected (-O 0) and once corrected (-O 667), and the corrected rip must
# take at most 5 % longer.
#
#   bench/offset/run.sh [folder of the built programs] [minutes, at least 60] [rounds]
#
# The image is read once beforehand, so that every run finds it in the page
# cache; the best of the rounds counts.  The folder is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/default/bin}" && pwd)
minutes=${2:-60}
rounds=${3:-5}
limit_percent=5
tracks=12

# shellcheck source=bench/common.sh
. "$root/bench/common.sh"

need_built vorka vorka-mkimage
make_work offset
sectors=$((minutes * 4500))
equal_tracks "$sectors" "$tracks"
mkdir "$work/image" "$work/out"
cue=$("$bin/vorka-mkimage" --name disc "$work/image" "${specs[@]}")
cat "$work"/image/*.bin >/dev/null
make_home

# One rip's wall-clock time, in milliseconds.
rip_ms() {
    rm -f "$work"/out/*
    sync
    local start end
    start=$(date +%s%N)
    HOME=$work/home VORKA_IMAGE_READ_OFFSET=667 \
        "$bin/vorka" -q -d "$cue" -f wav -o "$work/out/t%02d.%s" "$@" 2>/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}

# The two kinds of rip take turns, so that a busy moment of the machine
# does not fall on one of them only; the best of each counts.
uncorrected=
corrected=
for _ in $(seq "$rounds"); do
    u=$(rip_ms -O 0)
    c=$(rip_ms -O 667)
    if [ -z "$uncorrected" ] || [ "$u" -lt "$uncorrected" ]; then uncorrected=$u; fi
    if [ -z "$corrected" ] || [ "$c" -lt "$corrected" ]; then corrected=$c; fi
done
percent=$(awk -v c="$corrected" -v u="$uncorrected" 'BEGIN { printf "%.1f", (c - u) * 100 / u }')
echo "uncorrected rip of $minutes minutes: $uncorrected ms"
echo "corrected rip (+667 samples):   $corrected ms ($percent % more)"
if awk -v p="$percent" -v l="$limit_percent" 'BEGIN { exit !(p > l) }'; then
    echo "$0: the corrected rip takes more than $limit_percent % longer" >&2
    exit 1
fi
