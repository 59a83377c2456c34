# shellcheck shell=bash disable=SC2154  # root and bin come from the sourcing script
# What the benchmark scripts share (sourced, not run): their checks before
# they start, their scratch folder, the disc images they rip, and timing.
# The sourcing script sets `root` (the source tree) and, where it runs built
# programs, `bin` (their folder).

# Ends the benchmark unless every named program is built in $bin.
need_built() {
    local program
    for program in "$@"; do
        if [ ! -x "$bin/$program" ]; then
            echo "$0: $bin/$program is not built (run: make build)" >&2
            exit 1
        fi
    done
}

# Ends the benchmark unless every named tool is installed.
need_installed() {
    local program
    for program in "$@"; do
        if ! command -v "$program" >/dev/null 2>&1; then
            echo "$0: $program is not installed" >&2
            exit 1
        fi
    done
}

# Ends the benchmark when the disc is too short to measure what it is for:
#   need_minutes MINUTES "the reading"
need_minutes() {
    if [ "$1" -lt 60 ]; then
        echo "$0: an image under 60 minutes measures the start-up more than $2" >&2
        exit 1
    fi
}

# Makes the scratch folder `work` under TMPDIR (or /tmp), removed when the
# script ends, also after a failure:  make_work NAME
make_work() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/vorka-bench-$1.XXXXXX")
    trap 'rm -rf "$work"' EXIT
}

# Ends the benchmark unless the scratch folder has KIB kibibytes free.
need_free_kib() {
    local free_kib
    free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
    if [ "$free_kib" -lt "$1" ]; then
        echo "$0: $work has $((free_kib / 1024)) MiB free, needs $(($1 / 1024)) MiB" >&2
        exit 1
    fi
}

# Sets `specs` to vorka-mkimage's arguments for TRACKS audio tracks of equal
# length in SECTORS sectors:  equal_tracks SECTORS TRACKS
equal_tracks() {
    local per_track=$(($1 / $2))
    specs=()
    for _ in $(seq "$2"); do
        specs+=("audio:$per_track")
    done
}

# vorka reads its drive configuration from the home folder only: a fresh one
# in the scratch folder with the shipped file, so that neither the real home
# nor an installed configuration is read.
make_home() {
    mkdir -p "$work/home"
    cp "$root/config/vorkarc" "$work/home/.vorkarc"
}

now_ns() { date +%s%N; }

# Runs a command with its output discarded; prints its wall time in ns.
time_ns() {
    sync
    local start end
    start=$(now_ns)
    # A command that fails measures nothing: stop the benchmark.
    "$@" >/dev/null || { echo "$0: failed: $*" >&2; return 1; }
    end=$(now_ns)
    echo $((end - start))
}

min() { if [ "$1" -lt "$2" ]; then echo "$1"; else echo "$2"; fi; }

# BYTES moved in NS nanoseconds, as a rate and a time.
rate_of() { awk -v b="$1" -v ns="$2" 'BEGIN { printf "%8.0f MB/s  (%6.0f ms)", b * 1000 / ns, ns / 1e6 }'; }
