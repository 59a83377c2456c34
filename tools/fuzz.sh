#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz preset for a while, starting from
# its seed corpus, and fails when one of them finds a crash, a leak or a
# broken invariant.  New inputs go to a scratch folder, never into the
# committed corpus; a crashing input is kept in build/fuzz/crashes/.
#
#   tools/fuzz.sh [seconds per target, default 30] [target ...]
#
# FUZZ_SEED, when set, is libFuzzer's seed for every target, so that a run
# can be repeated; otherwise each run starts from a new random one.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
seconds=${1:-30}
shift || true
list="$build/fuzz-targets.txt"
[ -f "$list" ] || { echo "$0: $list missing (cmake --preset fuzz)" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/crashes"
failed=()
while read -r name corpus; do
    [ -n "$name" ] || continue
    if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then
        continue
    fi
    mkdir -p "$scratch/$name"
    echo "== $name: $seconds s from $(ls "$corpus" | wc -l) seeds"
    # The targets' own messages (error texts of the parsers) go to
    # /dev/null; libFuzzer keeps its report on standard error.
    if ! "$build/bin/$name" -max_total_time="$seconds" ${FUZZ_SEED:+-seed="$FUZZ_SEED"} \
            -close_fd_mask=3 -print_final_stats=1 \
            -artifact_prefix="$build/crashes/$name-" "$scratch/$name" "$corpus" \
            2>"$scratch/$name.log"; then
        tail -n 40 "$scratch/$name.log" >&2
        failed+=("$name")
    fi
    grep -E "^#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb" "$scratch/$name.log" || true
done <"$list"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: failed: ${failed[*]} (inputs in $build/crashes/)" >&2
    exit 1
fi
echo "fuzz: every target ran $seconds s clean"
