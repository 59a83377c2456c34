#!/usr/bin/env bash
# The real Linux kernel between vorka and a drive: boots Debian's kernel under
# QEMU (software emulation), serves a generated disc image through vorka-tcmu
# to the kernel's user-space SCSI target, so that it appears as /dev/sr0 and
# /dev/sg0, and runs vorka through the kernel's CD driver and SG_IO against
# what vorka reads from the image itself (tests/kernel/cases.sh).
#
#   tests/kernel/run.sh        (make kernel-test)
#
# Installs the packages of the group "kernel" in tools/packages when they are
# missing (as root; otherwise prints the command that does); fetches the
# kernel package with apt-get download and unpacks the few pieces it
# needs (never installs it).  The unpacked kernel, modules and busybox are
# kept in build/kernel-test-cache, the static programs in build/kernel-static.
# Prints one line per case and "N passed, M failed"; exit status 0 only when
# every case passed.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cache=$root/build/kernel-test-cache
static=$root/build/kernel-static
work=$root/build/kernel-test
say() { echo "kernel-test: $*" >&2; }

# The modules the guest loads, with what they need first (from each module's
# own "depends=" record, so a newer kernel package needs no edit here).
wanted_modules=(configfs target_core_user tcm_loop sr_mod sg isofs)

module_path() {  # name -> path in the unpacked tree; '-' and '_' are one
    local pattern=${1//[-_]/[-_]}
    find "$cache/unpacked/lib/modules" -name "$pattern.ko" | head -n 1
}

add_with_dependencies() {
    local name=$1 path dep
    for dep in "${ordered[@]}"; do
        [ "$dep" = "$name" ] && return
    done
    path=$(module_path "$name")
    [ -n "$path" ] || return 0  # built into the kernel
    for dep in $(tr '\0' '\n' <"$path" | sed -n 's/^depends=//p' | tr ',' ' '); do
        add_with_dependencies "$dep"
    done
    ordered+=("$name")
    cp "$path" "$cache/modules/$name.ko"
}

fetch_kernel() {
    [ "$(cat "$cache/ready" 2>/dev/null)" = "${wanted_modules[*]}" ] && return
    rm -rf "$cache"
    mkdir -p "$cache/modules"
    apt-get update -qq
    local package
    package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' |
        head -n 1)
    [ -n "$package" ] || { say "cannot tell which kernel linux-image-amd64 stands for"; exit 1; }
    say "fetching $package"
    # apt's download user must be able to write here.
    chmod 777 "$cache"
    (cd "$cache" && apt-get download -qq "$package")
    mkdir "$cache/unpacked"
    dpkg-deb --fsys-tarfile "$cache"/"$package"_*.deb |
        tar -x -C "$cache/unpacked" --wildcards './boot/vmlinuz-*' \
            './lib/modules/*/kernel/drivers/target/*' './lib/modules/*/kernel/drivers/uio/uio.ko' \
            './lib/modules/*/kernel/drivers/cdrom/*' './lib/modules/*/kernel/drivers/scsi/*.ko' \
            './lib/modules/*/kernel/fs/configfs/*' './lib/modules/*/kernel/fs/isofs/*' \
            './lib/modules/*/kernel/lib/*' \
            './lib/modules/*/kernel/crypto/crct10dif*'
    local vmlinuz
    vmlinuz=$(ls "$cache"/unpacked/boot/vmlinuz-*)
    # Booting the kernel ELF inside the bzImage through its PVH entry skips
    # the self-decompression, which takes seconds under emulation.
    local offset
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1 || true)
    if [ -n "$offset" ]; then
        # xz stops at the stream's end, which ends tail with SIGPIPE.
        (tail -c +$((offset + 1)) "$vmlinuz" | xz -dc --single-stream >"$cache/vmlinux") \
            2>/dev/null || true
    fi
    if [ "$(head -c 4 "$cache/vmlinux" 2>/dev/null)" != $'\x7fELF' ]; then
        cp "$vmlinuz" "$cache/vmlinux"
    fi
    ordered=()
    local m
    for m in "${wanted_modules[@]}"; do
        add_with_dependencies "$m"
    done
    printf '%s\n' "${ordered[@]}" >"$cache/modules/order"
    cp "$(command -v busybox)" "$cache/busybox"
    rm -rf "$cache/unpacked" "$cache"/*.deb
    echo "${wanted_modules[*]}" >"$cache/ready"
}

# Static programs: the guest has no C++ library.  The libraries' archives
# are found in place of their shared objects; libFLAC's archive needs libogg
# after it.
build_static() {
    cmake -S "$root" -B "$static" -DCMAKE_BUILD_TYPE=Release -DVORKA_BUILD_TESTS=OFF \
        -DVORKA_SYSCONFDIR=/etc -DCMAKE_EXE_LINKER_FLAGS=-static \
        -DCMAKE_PROJECT_INCLUDE="$root/tests/kernel/static.cmake" \
        -DCMAKE_CXX_STANDARD_LIBRARIES="-logg -lm" >/dev/null
    cmake --build "$static" -j "$(nproc)" --target vorka vorkasum vorka-tcmu vorka-mkimage >/dev/null
}

# add_program PATH: a program of this machine and the shared libraries it
# loads, each at its own path, so that the guest's loader finds them.
add_program() {
    local r=$work/root lib
    cp "$1" "$r/bin/"
    for lib in $(ldd "$1" | grep -o '/[^ ]*'); do
        mkdir -p "$r$(dirname "$lib")"
        cp -L "$lib" "$r$lib"
    done
}

# The data track of the mixed-mode disc: an ISO 9660 file system of a few
# files, which the guest mounts and compares.
make_data_track() {
    local files=$work/root/data/files
    mkdir -p "$files/sub"
    head -c 300000 /dev/urandom >"$files/random.bin"
    seq 1 20000 >"$files/sub/numbers.txt"
    echo "a file on the data track" >"$files/README.TXT"
    local iso=$work/root/data/data.iso sectors
    genisoimage -quiet -r -J -V VORKA_DATA -o "$iso" "$files"
    # Padded as CD writers pad a data track, to an even number of sectors:
    # the kernel reads a 2048-byte block device in pages of two sectors,
    # and a page that reaches into the audio after the track fails whole.
    sectors=$(($(stat -c %s "$iso") / 2048 + 150))
    truncate -s $(((sectors + 1) / 2 * 2 * 2048)) "$iso"
}

make_initramfs() {
    rm -rf "$work"
    mkdir -p "$work/root"/{bin,etc,lib/modules,dev,proc,sys,tmp}
    local r=$work/root
    cp "$cache/busybox" "$r/bin/busybox"
    cp "$cache/modules/"*.ko "$cache/modules/order" "$r/lib/modules/"
    cp "$static/bin/vorka" "$static/bin/vorkasum" "$static/bin/vorka-tcmu" \
        "$static/bin/vorka-mkimage" "$r/bin/"
    # The programs users rip and identify discs with, and libdiscid's own
    # reading of a drive.
    cc -O2 -o "$work/discid-check" "$root/tests/kernel/discid_check.c" -ldiscid
    local program
    for program in /usr/bin/cdparanoia /usr/bin/cd-paranoia /usr/bin/cd-discid /usr/bin/cd-info \
        "$work/discid-check"; do
        add_program "$program"
    done
    # cd-info converts CD-Text from ISO 8859-1 with iconv.
    local gconv=/usr/lib/x86_64-linux-gnu/gconv
    mkdir -p "$r$gconv"
    cp -r "$gconv/gconv-modules" "$gconv/gconv-modules.d" "$gconv/ISO8859-1.so" "$r$gconv/"
    make_data_track
    cp "$root/config/vorkarc" "$r/etc/vorkarc"
    cp "$root/tests/kernel/init.sh" "$r/init"
    cp "$root/tests/kernel/cases.sh" "$r/cases.sh"
    chmod 755 "$r/init" "$r/cases.sh"
    (cd "$r" && find . | "$cache/busybox" cpio -o -H newc 2>/dev/null) >"$work/initramfs.cpio"
}

"$root/tools/need-packages" build test kernel
fetch_kernel
build_static
make_initramfs

# VORKA_KERNEL_TEST_COMMANDS=1 lists what each other program sent to the
# drive (cases.sh, show_commands).
show_commands=
[ "${VORKA_KERNEL_TEST_COMMANDS:-}" = 1 ] && show_commands=vorka_show_commands=1

# One virtual CPU: the ring's round trips are several times slower with two.
# KVM is never asked for (it hangs on these machines).
status=0
timeout 600 qemu-system-x86_64 -machine pc,accel=tcg -cpu max -smp 1 -m 512 \
    -nographic -no-reboot -nodefaults -serial stdio \
    -kernel "$cache/vmlinux" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 rdinit=/init $show_commands" \
    </dev/null | tr -d '\r' | tee "$work/console.log" |
    grep -aEv $'\e|^Booting from ROM|reboot: Power down|^$' || status=$?
summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$work/console.log" | tail -n 1 || true)
if [ -z "$summary" ]; then
    say "the guest ended without a summary (qemu status $status); see $work/console.log"
    exit 1
fi
[ "${summary#* passed, }" = "0 failed" ] && [ "${summary%% passed*}" -gt 0 ]
