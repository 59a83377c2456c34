#!/usr/bin/env bash
# How fast vorkfade rewrites a big file, next to the plain in-place rewrite
# of the same file that dd does (bs=64k conv=notrunc: read a block, write it
# back), and to sox's fade into a new file when sox is installed.
#
#   bench/fade/run.sh [vorkfade] [size in MiB, at least 512] [rounds]
#
# The file is random data in a fresh folder under TMPDIR (or /tmp), read once
# beforehand so that every run finds it in the page cache; dirty pages are
# flushed before each timed run and not counted.  The best of the rounds
# counts.  The folder is removed at the end, also after a failure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
fade=${1:-$root/build/default/bin/vorkfade}
mib=${2:-512}
rounds=${3:-3}
target_percent=80

if [ ! -f "$fade" ] || [ ! -x "$fade" ]; then
    echo "$0: $fade is not built (run: make build)" >&2
    exit 1
fi
if [ "$mib" -lt 512 ]; then
    echo "$0: a file under 512 MiB measures the system calls more than the work" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vorka-bench-fade.XXXXXX")
trap 'rm -rf "$work"' EXIT
pcm=$work/long.pcm
bytes=$((mib * 1024 * 1024))

# Room for the file, and for sox's copy when sox is there, plus a margin.
copies=1
if command -v sox >/dev/null 2>&1; then
    copies=2
fi
need_kib=$((copies * mib * 1024 + 256 * 1024))
free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt "$need_kib" ]; then
    echo "$0: $work has $((free_kib / 1024)) MiB free, needs $((need_kib / 1024)) MiB" >&2
    exit 1
fi

head -c "$bytes" /dev/urandom >"$pcm"
cat "$pcm" >/dev/null

# shellcheck source=bench/timing.sh
. "$root/bench/timing.sh"

best_dd=
best_fade=
for _ in $(seq "$rounds"); do
    t=$(time_ns dd if="$pcm" of="$pcm" bs=64k conv=notrunc status=none)
    best_dd=$(min "${best_dd:-$t}" "$t")
    # A fade-in over the whole file: every frame is read, scaled and written.
    t=$(time_ns "$fade" 0 -1 "$pcm")
    best_fade=$(min "${best_fade:-$t}" "$t")
done

rate() { awk -v b="$bytes" -v ns="$1" 'BEGIN { printf "%8.0f MB/s  (%6.0f ms)", b * 1000 / ns, ns / 1e6 }'; }

echo "file: $mib MiB of raw PCM in the page cache, best of $rounds rounds (MB = 10^6 bytes)"
echo "dd bs=64k conv=notrunc, in place:  $(rate "$best_dd")"
echo "vorkfade 0 -1, in place:           $(rate "$best_fade")"
awk -v dd="$best_dd" -v fade="$best_fade" -v target="$target_percent" 'BEGIN {
    percent = dd * 100 / fade
    printf "vorkfade / dd:                     %8.0f %%  (target >= %d %%: %s)\n",
           percent, target, (percent >= target ? "met" : "NOT met")
}'

if [ "$copies" -eq 2 ]; then
    seconds=$(awk -v b="$bytes" 'BEGIN { printf "%.6f", b / 4 / 44100 }')
    t=$(time_ns sox -t raw -r 44100 -e signed-integer -b 16 -c 2 -L "$pcm" \
        -t raw "$work/sox.pcm" fade t "$seconds")
    echo "sox fade t, into a new file:       $(rate "$t")"
else
    echo "sox: not installed, not measured"
fi
