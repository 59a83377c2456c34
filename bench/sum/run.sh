#!/usr/bin/env bash
# How fast vorkasum sums the per-track WAV files of a whole disc, next to
# cksum (a CRC over the same bytes) on the same files in the same run; and
# how long vorkasum --offsets takes to try every read offset over the disc
# as one stream.
#
#   bench/sum/run.sh [folder of the built programs] [minutes, at least 60] [rounds]
#
# The disc image is made in a fresh folder under TMPDIR (or /tmp) and ripped
# there with vorka, into twelve per-track WAV files and one whole-disc WAV
# file.  The files are read once beforehand, so that every run finds them
# in the page cache.  The database entry for --offsets holds the disc's own
# v1 and v2 sums, so that the true offset (0) is found and confirmed.  The
# best of the rounds counts.  The folder is removed at the end, also after a
# failure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/default/bin}" && pwd)
minutes=${2:-60}
rounds=${3:-5}
target_mb_per_s=1000
target_offsets_ms=10000
tracks=12

# shellcheck source=bench/common.sh
. "$root/bench/common.sh"

need_built vorka vorkasum vorka-mkimage
need_minutes "$minutes" "the reading"
make_work sum

sectors=$((minutes * 4500))
bytes=$((sectors * 2352))
# The image, the track files and the whole-disc file, plus a margin.
need_free_kib $((3 * bytes / 1024 + 256 * 1024))

equal_tracks "$sectors" "$tracks"
mkdir "$work/image" "$work/rip"
cue=$("$bin/vorka-mkimage" --name disc "$work/image" "${specs[@]}")
make_home
HOME=$work/home "$bin/vorka" -q -d "$cue" -f wav -o "$work/rip/track%02d.%s"
HOME=$work/home "$bin/vorka" -q -d "$cue" -f wav -o "$work/disc.wav"
files=("$work"/rip/track*.wav)
if [ "${#files[@]}" -ne "$tracks" ]; then
    echo "$0: vorka wrote ${#files[@]} files, expected $tracks" >&2
    exit 1
fi
file_bytes=$(cat "${files[@]}" | wc -c)
cat "${files[@]}" "$work/disc.wav" >/dev/null

# The entry: one block of v1 sums and one of v2 sums, from vorkasum's own
# lines ("accuraterip NNN-ID1-ID2-FREEDB", "track N SAMPLES CRC V1 V2 FILE").
"$bin/vorkasum" -d "$cue" "${files[@]}" >"$work/sums"
python3 - "$work/sums" "$work/entry.bin" <<'PY'
import struct, sys
lines = [l.split() for l in open(sys.argv[1])]
ids = next(l[1] for l in lines if l[0] == "accuraterip").split("-")
count, id1, id2, freedb = int(ids[0]), int(ids[1], 16), int(ids[2], 16), int(ids[3], 16)
tracks = [l for l in lines if l[0] == "track"]
with open(sys.argv[2], "wb") as out:
    for column in (4, 5):
        out.write(struct.pack("<BIII", count, id1, id2, freedb))
        for t in tracks:
            out.write(struct.pack("<BII", 1, int(t[column], 16), 0))
PY


sums() { "$bin/vorkasum" -d "$cue" "${files[@]}"; }
offsets() { "$bin/vorkasum" -d "$cue" -a "$work/entry.bin" --offsets "$work/disc.wav"; }

best_cksum=
best_sum=
best_offsets=
for _ in $(seq "$rounds"); do
    t=$(time_ns cksum "${files[@]}")
    best_cksum=$(min "${best_cksum:-$t}" "$t")
    t=$(time_ns sums)
    best_sum=$(min "${best_sum:-$t}" "$t")
done
for _ in $(seq "$(( rounds < 3 ? rounds : 3 ))"); do
    t=$(time_ns offsets)
    best_offsets=$(min "${best_offsets:-$t}" "$t")
done
found=$(offsets | awk '$1 == "offset" { print $2, $3, $4, $5 }')
if [ "$found" != "+0 $tracks $tracks $tracks" ]; then
    echo "$0: --offsets found \"$found\", not \"+0 $tracks $tracks $tracks\"" >&2
    exit 1
fi

rate() { rate_of "$file_bytes" "$1"; }

echo "disc: $minutes minutes, $tracks WAV files, $((file_bytes / 1000000)) MB in the page cache,"
echo "best of $rounds rounds (MB = 10^6 bytes)"
echo "cksum, the same files:            $(rate "$best_cksum")"
echo "vorkasum, CRC32 + AccurateRip:    $(rate "$best_sum")"
awk -v ns="$best_sum" -v b="$file_bytes" -v target="$target_mb_per_s" 'BEGIN {
    mbs = b * 1000 / ns
    printf "vorkasum target >= %d MB/s:       %s\n", target, (mbs >= target ? "met" : "NOT met")
}'
awk -v ns="$best_offsets" -v target="$target_offsets_ms" 'BEGIN {
    ms = ns / 1e6
    printf "vorkasum --offsets, whole disc:   %8.0f ms  (target < %d ms: %s)\n", ms, target,
           (ms < target ? "met" : "NOT met")
}'
