#!/usr/bin/env bash
# How fast vorkfade rewrites a big file, next to the plain in-place rewrite
# of the same file that dd does (bs=64k conv=notrunc: read a block, write it
# back), and to sox's fade into a new file when sox is installed.
#
#   bench/fade/run.sh [vorkfade] [size in MiB, at least 512] [rounds, default 7]
#
# The file is random data in a fresh folder under TMPDIR (or /tmp), read once
# beforehand so that every run finds it in the page cache; dirty pages are
# flushed before each timed run and not counted.  The two take turns, so that
# a busy machine slows both alike; the median of the rounds' ratios counts.
# The folder is removed at the end, also after a failure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
fade=${1:-$root/build/default/bin/vorkfade}
mib=${2:-512}
rounds=${3:-7}
target_percent=95

# shellcheck source=bench/common.sh
. "$root/bench/common.sh"

if [ ! -f "$fade" ] || [ ! -x "$fade" ]; then
    echo "$0: $fade is not built (run: make build)" >&2
    exit 1
fi
if [ "$mib" -lt 512 ]; then
    echo "$0: a file under 512 MiB measures the system calls more than the work" >&2
    exit 1
fi

make_work fade
pcm=$work/long.pcm
bytes=$((mib * 1024 * 1024))

# Room for the file, and for sox's copy when sox is there, plus a margin.
copies=1
if command -v sox >/dev/null 2>&1; then
    copies=2
fi
need_free_kib $((copies * mib * 1024 + 256 * 1024))

head -c "$bytes" /dev/urandom >"$pcm"
cat "$pcm" >/dev/null

dd_times=()
fade_times=()
for _ in $(seq "$rounds"); do
    dd_times+=("$(time_ns dd if="$pcm" of="$pcm" bs=64k conv=notrunc status=none)")
    # A fade-in over the whole file: every frame is read, scaled and written.
    fade_times+=("$(time_ns "$fade" 0 -1 "$pcm")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
median_dd=$(median "${dd_times[@]}")
median_fade=$(median "${fade_times[@]}")

rate() { rate_of "$bytes" "$1"; }

echo "file: $mib MiB of raw PCM in the page cache, median of $rounds interleaved rounds (MB = 10^6 bytes)"
echo "dd bs=64k conv=notrunc, in place:  $(rate "$median_dd")"
echo "vorkfade 0 -1, in place:           $(rate "$median_fade")"
# Judged by the median of each round's own ratio: the two runs of a round
# follow each other within a second, so a machine that slows down for a
# while slows both alike, where the medians of the times can come from
# different stretches of it.
ratios=()
for i in "${!dd_times[@]}"; do
    ratios+=("$(awk -v dd="${dd_times[$i]}" -v fade="${fade_times[$i]}" \
        'BEGIN { printf "%.1f", dd * 100 / fade }')")
done
median_ratio=$(median "${ratios[@]}")
awk -v percent="$median_ratio" -v target="$target_percent" 'BEGIN {
    printf "vorkfade / dd, median of rounds:   %8.1f %%  (target >= %d %%: %s)\n",
           percent, target, (percent >= target ? "met" : "NOT met")
}'
echo "each round:                        ${ratios[*]}"

if [ "$copies" -eq 2 ]; then
    seconds=$(awk -v b="$bytes" 'BEGIN { printf "%.6f", b / 4 / 44100 }')
    t=$(time_ns sox -t raw -r 44100 -e signed-integer -b 16 -c 2 -L "$pcm" \
        -t raw "$work/sox.pcm" fade t "$seconds")
    echo "sox fade t, into a new file:       $(rate "$t")"
else
    echo "sox: not installed, not measured"
fi
