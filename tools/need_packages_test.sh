#!/usr/bin/env bash
# tools/need-packages against stand-ins for dpkg-query, apt-get and id on
# PATH, with a small package list of its own: what it asks apt-get to do, what
# it prints and how it exits, as root and as an ordinary user.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

mkdir "$scratch/tools" "$scratch/fake"
cp "$source_dir/tools/need-packages" "$scratch/tools/"
cat >"$scratch/tools/packages" <<'LIST'
# a comment, then a blank line

cmake          build   configures
libdiscid-dev  build   disc IDs
cd-discid      test    cross-check
clang          fuzz    fuzzing
LIST

# dpkg-query -W -f=FORMAT PACKAGE...: the packages in $FAKE_INSTALLED are
# installed, $FAKE_HALF ones left only their configuration files, the others
# dpkg has never heard of.
cat >"$scratch/fake/dpkg-query" <<'FAKE'
#!/bin/bash
status=0
for p in "$@"; do
    case $p in -*) continue ;; esac
    if [[ " $FAKE_INSTALLED " == *" $p "* ]]; then
        printf '%s:installed ' "$p"
    elif [[ " ${FAKE_HALF-} " == *" $p "* ]]; then
        printf '%s:config-files ' "$p"
    else
        echo "dpkg-query: no packages found matching $p" >&2
        status=1
    fi
done
exit $status
FAKE
cat >"$scratch/fake/apt-get" <<'FAKE'
#!/bin/bash
echo "apt-get $* [$DEBIAN_FRONTEND]" >>"$APT_LOG"
[ "${FAKE_APT_FAILS-}" != "$1" ]
FAKE
cat >"$scratch/fake/id" <<'FAKE'
#!/bin/bash
echo "$FAKE_UID"
FAKE
chmod +x "$scratch/fake/"*

# check NAME EXPECTED_STATUS EXPECTED_APT_LOG EXPECTED_STDERR_LINE VAR=VALUE... -- GROUP...
check() {
    local name=$1 want_status=$2 want_apt=$3 want_line=$4
    shift 4
    local vars=()
    while [ "$1" != -- ]; do vars+=("$1"); shift; done
    shift
    rm -f "$scratch/apt.log"
    : >"$scratch/apt.log"
    local status=0
    env FAKE_UID=1000 FAKE_INSTALLED= APT_LOG="$scratch/apt.log" PATH="$scratch/fake:$PATH" \
        "${vars[@]}" "$scratch/tools/need-packages" "$@" 2>"$scratch/stderr" || status=$?
    [ "$status" -eq "$want_status" ] || fail "$name: status $status, not $want_status"
    [ "$(cat "$scratch/apt.log")" = "$want_apt" ] ||
        fail "$name: apt-get was run as [$(cat "$scratch/apt.log")], not [$want_apt]"
    if [ -n "$want_line" ]; then
        grep -qxF -- "$want_line" "$scratch/stderr" ||
            fail "$name: no line \"$want_line\" in: $(cat "$scratch/stderr")"
    elif [ "$want_status" -eq 0 ] && [ -z "$want_apt" ] && [ -s "$scratch/stderr" ]; then
        fail "$name: printed $(cat "$scratch/stderr")"
    fi
}

check "all there" 0 "" "" FAKE_INSTALLED="cmake libdiscid-dev cd-discid" -- build test
check "only the groups asked for" 0 "" "" FAKE_INSTALLED="cmake libdiscid-dev" -- build
check "user: the one command" 1 "" "sudo apt-get install libdiscid-dev cd-discid" \
    FAKE_INSTALLED="cmake" -- build test
check "user: removed but configuration kept is missing" 1 "" "sudo apt-get install libdiscid-dev" \
    FAKE_INSTALLED="cmake" FAKE_HALF="libdiscid-dev" -- build
check "root: installs only what is missing" 0 \
    "apt-get update -qq [noninteractive]
apt-get install -y -qq --no-install-recommends libdiscid-dev clang [noninteractive]" "" \
    FAKE_UID=0 FAKE_INSTALLED="cmake cd-discid" -- build fuzz
check "root: a failed install fails" 1 \
    "apt-get update -qq [noninteractive]
apt-get install -y -qq --no-install-recommends clang [noninteractive]" \
    "need-packages: apt-get could not install clang" \
    FAKE_UID=0 FAKE_APT_FAILS=install FAKE_INSTALLED="cmake" -- fuzz
check "root: a failed update fails" 1 "apt-get update -qq [noninteractive]" \
    "need-packages: apt-get could not install clang" \
    FAKE_UID=0 FAKE_APT_FAILS=update -- fuzz
check "all groups" 1 "" "sudo apt-get install cmake libdiscid-dev cd-discid clang" -- all
check "a group nobody has" 2 "" "need-packages: no package of $scratch/tools/packages is in the group \"tests\"" \
    FAKE_INSTALLED="cmake libdiscid-dev cd-discid clang" -- build tests

# Without dpkg-query (not a Debian-like system) nothing is checked.
mkdir "$scratch/bare"
for tool in bash dirname; do ln -s "$(command -v "$tool")" "$scratch/bare/$tool"; done
status=0
PATH="$scratch/bare" "$scratch/tools/need-packages" build 2>"$scratch/stderr" || status=$?
[ "$status" -eq 0 ] || fail "without dpkg-query: status $status: $(cat "$scratch/stderr")"
grep -q "no dpkg-query here" "$scratch/stderr" || fail "without dpkg-query: said $(cat "$scratch/stderr")"

# The project's own list: every line has a package and a known group.
bad=$(awk '!/^#/ && NF && ($2 !~ /^(build|test|fuzz|install|kernel|freebsd)$/ || NF < 3)' \
    "$source_dir/tools/packages")
[ -z "$bad" ] || fail "tools/packages has lines without a package, a known group and a purpose: $bad"

[ "$failures" -eq 0 ] && echo "need-packages: all cases passed"
exit $((failures > 0))
