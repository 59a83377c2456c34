#!/usr/bin/env bash
# Compiles every source of the product (programs and libraries, tests off)
# for FreeBSD 14/amd64 against FreeBSD's own headers, with the project's
# warnings as errors, and links nothing.  Prints one line per source and
# "N of M sources compile for FreeBSD"; the compiler's messages for every
# source that fails.  Exits 1 when a source fails, 0 when all compile or
# when the FreeBSD headers are not there (a clone without ../shared).
#
# freebsd-check.sh [build folder]; FREEBSD_HEADERS names the folder that
# holds sysroot/ and extra/ (default: ../shared/freebsd beside the clone).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source_dir/build/freebsd}
headers=${FREEBSD_HEADERS:-$source_dir/../shared/freebsd}
jobs=${JOBS:-2}

if [ ! -f "$headers/sysroot/usr/include/camlib.h" ]; then
    echo "freebsd-check: no FreeBSD headers in $headers/sysroot; nothing was checked" >&2
    exit 0
fi
"$source_dir/tools/need-packages" freebsd
# The headers, staged in the build folder: a checkout may hold the sysroot's
# symbolic links (fcntl.h -> sys/fcntl.h) as files that contain the target's
# name; those become links again.  libFLAC's headers are Debian's (the
# FreeBSD port installs the same), with a pkg-config file of their own.
stage=$build/headers
rm -rf "$stage"
mkdir -p "$stage"
cp -R "$headers/sysroot" "$headers/extra" "$stage/"
chmod -R u+w "$stage"
find "$stage/sysroot" -type f -size -100c -name '*.h' | while read -r file; do
    target=$(cat "$file")
    if [[ "$target" =~ ^[A-Za-z0-9_./-]+\.h$ ]] && [ -f "$(dirname "$file")/$target" ]; then
        ln -sf "$target" "$file"
    fi
done
if [ -d /usr/include/FLAC ]; then
    mkdir -p "$stage/extra/include" "$stage/extra/lib/pkgconfig"
    cp -R /usr/include/FLAC "$stage/extra/include/"
    cat >"$stage/extra/lib/pkgconfig/flac.pc" <<'PC'
# libFLAC for the FreeBSD compile-only check: Debian's headers, no library.
prefix=${pcfiledir}/../..
includedir=${prefix}/include
libdir=${prefix}/lib

Name: FLAC
Description: Free Lossless Audio Codec Library (headers only, for the FreeBSD check)
Version: 1.4.2
Libs: -L${libdir} -lFLAC
Cflags: -I${includedir}
PC
fi

export VORKA_FREEBSD_ROOT=$stage
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$source_dir" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/freebsd-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE= -DVORKA_WERROR=ON -DVORKA_BUILD_TESTS=OFF \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "${launcher[@]}" >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; echo "freebsd-check: configuring for FreeBSD failed" >&2; exit 1; }

# Every object of the product, fresh: an object left from an earlier run
# must not stand in for a source that no longer compiles.
mapfile -t rows < <(python3 - "$build/compile_commands.json" "$source_dir" "$build" <<'PY'
import json, os, shlex, sys
commands, source_dir = json.load(open(sys.argv[1])), sys.argv[2]
for c in commands:
    args = shlex.split(c["command"])
    obj = args[args.index("-o") + 1]
    # Ninja names an object by its path in the build folder.
    print(os.path.relpath(c["file"], source_dir) + "\t" + os.path.relpath(os.path.join(c["directory"], obj), sys.argv[3]))
PY
)
objects=()
for row in "${rows[@]}"; do
    objects+=("${row#*$'\t'}")
done
(cd "$build" && rm -f "${objects[@]}")
status=0
ninja -C "$build" -k 0 -j "$jobs" "${objects[@]}" >"$build/compile.log" 2>&1 || status=$?

ok=0
failed=()
for row in "${rows[@]}"; do
    source=${row%%$'\t'*}
    if [ -f "$build/${row#*$'\t'}" ]; then
        echo "ok      $source"
        ok=$((ok + 1))
    else
        echo "FAILED  $source"
        failed+=("$source")
    fi
done
echo "$ok of ${#rows[@]} sources compile for FreeBSD"
if [ ${#failed[@]} -gt 0 ] || [ "$status" -ne 0 ]; then
    echo "freebsd-check: the compiler's messages ($build/compile.log):" >&2
    grep -v '^\[' "$build/compile.log" >&2 || true
    exit 1
fi
