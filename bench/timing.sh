# Timing helpers shared by the benchmark scripts (sourced, not run).

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
