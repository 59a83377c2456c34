#!/bin/sh
# The cases, run as root in the guest (busybox sh).  Four target_core_user
# backstores, each served by its own vorka-tcmu from one generated disc
# image, become four LUNs of one tcm_loop target: the default drive kind, the
# atapi and mmc kinds, and the default kind with a bad sector in track 2.
# Every case runs vorka through the kernel and compares what it wrote and
# printed with what vorka does on the image itself.  One line per case, then
# "N passed, M failed".

target=/sys/kernel/config/target
wwn=naa.5001405000000001
tpg=$target/loopback/$wwn/tpgt_1
disc=/tmp/disc
bad_sector=475  # inside track 2 (375 to 599), in its fourth read of 26 sectors
passed=0
failed=0

# --- the drives -------------------------------------------------------------

# serve LUN NAME [VARIABLE=value ...]: backstore NAME served by vorka-tcmu
# with the given environment, linked as LUN number LUN.
serve() {
    local lun=$1 name=$2 store i
    shift 2
    store=$target/core/user_0/$name
    mkdir -p "$store"
    echo "dev_config=vorka/$name,dev_size=734003200" >"$store/control"
    echo 1 >"$store/enable"
    env "$@" VORKA_SCSI_LOG="/tmp/$name.served" \
        vorka-tcmu "$name" "$cue" 2>"/tmp/$name.tcmu" &
    eval "pid_$name=\$!"
    # Creating the LUN starts the kernel's scan at once: the ring must be
    # served by then.
    for i in $(seq 100); do
        grep -q serving "/tmp/$name.tcmu" 2>/dev/null && break
        usleep 50000
    done
    mkdir -p "$tpg/lun/lun_$lun"
    ln -s "$store" "$tpg/lun/lun_$lun/$name"
}

# node LUN block|scsi_generic: /dev/srN or /dev/sgN of the LUN.
node() {
    local i entry
    for i in $(seq 100); do
        for entry in /sys/bus/scsi/devices/*:0:1:"$1"/"$2"/*; do
            if [ -e "$entry" ] && [ -e "/dev/${entry##*/}" ]; then
                echo "/dev/${entry##*/}"
                return
            fi
        done
        usleep 50000
    done
    echo "/dev/missing-lun-$1"
}

setup() {
    mkdir -p "$disc"
    cue=$(vorka-mkimage --name disc "$disc" audio:300 audio:225,index0=75 audio:150 mode1:75)
    mkdir -p "$tpg"
    echo "$wwn" >"$tpg/nexus"
    serve 0 plain
    serve 1 atapi VORKA_IMAGE_DRIVE=atapi
    serve 2 mmc VORKA_IMAGE_DRIVE=mmc
    serve 3 damaged VORKA_IMAGE_MEDIUM_ERRORS=$bad_sector
    sr=$(node 0 block) sg=$(node 0 scsi_generic)
    sr_atapi=$(node 1 block) sr_mmc=$(node 2 block) sr_damaged=$(node 3 block)

    # Configurations: ~/.vorkarc entries for the emulated drive, ahead of the
    # shipped /etc/vorkarc (READ CD, no mode change).
    mkdir -p /tmp/home /tmp/home-read10 /tmp/home-d8
    echo '"VORKA" "CD IMAGE" "" 0x28 1 0x82 0 26 0' >/tmp/home-read10/.vorkarc
    echo '"VORKA" "CD IMAGE" "" 0xD8 0 0 0 26 0' >/tmp/home-d8/.vorkarc

    # An ordinary user of group cdrom, as on a desktop system.
    echo 'root:x:0:0:root:/tmp/home:/bin/sh' >/etc/passwd
    echo 'ripper:x:1000:1000:ripper:/tmp/ripper:/bin/sh' >>/etc/passwd
    printf 'root:x:0:\ncdrom:x:24:ripper\nripper:x:1000:\n' >/etc/group
    echo /bin/sh >/etc/shells
    mkdir -p /tmp/ripper
    cp /tmp/home-d8/.vorkarc /tmp/ripper/.vorkarc.d8
    chown -R ripper:ripper /tmp/ripper
    for n in "$sr" "$sg"; do
        chgrp cdrom "$n"
        chmod 660 "$n"
    done
}

# --- running vorka ----------------------------------------------------------

# rip FOLDER ENVIRONMENT DEVICE ARGS...: vorka in a fresh FOLDER, standard
# output to FOLDER/out, its messages (without the timing-dependent
# statistics, with the device path as DEVICE) to FOLDER/messages, the
# status to FOLDER/status, its commands to FOLDER.log.
rip() {
    local folder=$1 environment=$2 device=$3
    shift 3
    rm -rf "$folder" "$folder.log"
    mkdir -p "$folder"
    (cd "$folder" &&
        env HOME=/tmp/home VORKA_SCSI_LOG="$folder.log" $environment vorka -d "$device" "$@" \
            >out 2>err)
    echo $? >"$folder/status"
    grep -v '^Transferred ' "$folder/err" | sed "s|$device|DEVICE|g" >"$folder/messages"
    rm "$folder/err"
}

# same_files A B: the same file names with the same bytes.
same_files() {
    local f
    [ "$(ls "$1")" = "$(ls "$2")" ] || { echo "files: $(ls "$1") / $(ls "$2")"; return 1; }
    for f in $(ls "$1"); do
        cmp "$1/$f" "$2/$f" || return 1
    done
}

# like_image ENVIRONMENT DEVICE ARGS...: vorka through the device writes,
# prints and ends exactly as on the image (in /tmp/got and /tmp/ref).
like_image() {
    local environment=$1 device=$2
    shift 2
    rip /tmp/ref "$environment" "$cue" "$@"
    rip /tmp/got "$environment" "$device" "$@"
    same_files /tmp/ref /tmp/got || { diff /tmp/ref/messages /tmp/got/messages; return 1; }
}

succeeds_like_image() {
    like_image "$@" && [ "$(cat /tmp/got/status)" = 0 ]
}

# The last MODE SELECT a drive was sent set density 0 and 2048-byte blocks:
# the last 8 bytes of its parameter list are that block descriptor.
drive_at_data_defaults() {
    local last
    last=$(grep -E '^(15|55) ' "/tmp/$1.served" | tail -n 1)
    echo "last mode select: $last"
    tail -n 3 "/tmp/$1.served"
    case "$last" in
        *" 00 00 00 00 00 00 08 00 | ok") return 0 ;;
    esac
    return 1
}

as_ripper() {  # as_ripper FOLDER COMMAND: a shell command of the user in a fresh FOLDER
    rm -rf "$1"
    mkdir -p "$1"
    chown ripper "$1"
    su ripper -c "cd $1 && $2"
}

# --- the cases ----------------------------------------------------------------

check() {  # check NAME COMMAND...: one line for the case
    local name=$1
    shift
    if "$@" >/tmp/case.log 2>&1; then
        echo "pass: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        sed 's/^/    /' /tmp/case.log | tail -n 20
        failed=$((failed + 1))
    fi
}

case_listing() { like_image "" "$1" -i && grep -q ' data' /tmp/got/messages; }
case_compact_listing() { like_image "" "$1" -iq && [ "$(wc -l </tmp/got/messages)" = 4 ]; }
case_wav_tracks() { succeeds_like_image "" "$1" -f wav && [ -s /tmp/got/track04.wav ]; }
case_raw_tracks() { succeeds_like_image "" "$1" -f pcm; }
case_stream() { succeeds_like_image "" "$1" -t 1-3 -f wav -o - && [ -s /tmp/got/out ]; }
case_range() { succeeds_like_image "" "$1" -s 290 -e 420 -f pcm -o range.%s; }
case_aiff() { succeeds_like_image "" "$1" -t 2-3 -f aiff; }

case_read_cd() { succeeds_like_image "" "$sr" -t 2 -f wav && grep -q '^be 04 ' /tmp/got.log; }
case_read10_density() {
    succeeds_like_image HOME=/tmp/home-read10 "$sr" -t 2 -f wav &&
        grep -q '^15 10 00 00 0c 00 | out 12 00 00 00 08 82 00 00 00 00 00 09 30 | ok' \
            /tmp/got.log && grep -q '^28 00 00 00 01 77 00 00 1a 00 | in 61152 | ok' /tmp/got.log
}
case_d8_root() {
    succeeds_like_image HOME=/tmp/home-d8 "$sr" -t 2 -f wav &&
        grep -q '^d8 00 00 00 01 77 00 00 00 1a 00 00 | in 61152 | ok' /tmp/got.log
}
case_user_read_cd() {
    rip /tmp/ref "" "$cue" -t 2 -f wav
    as_ripper /tmp/user "vorka -d $1 -t 2 -f wav 2>err" &&
        cmp /tmp/ref/track02.wav /tmp/user/track02.wav
}
case_user_d8() {
    local status=0
    as_ripper /tmp/user "HOME=/tmp/ripper/d8 && mkdir -p \$HOME &&
        cp /tmp/ripper/.vorkarc.d8 \$HOME/.vorkarc && vorka -d $1 -t 2 -f wav 2>err" || status=$?
    cat /tmp/user/err
    [ "$status" = 1 ] && grep -q 'error sending CD-DA read command: Operation not permitted' \
        /tmp/user/err && grep -q 'needs root privileges' /tmp/user/err
}
case_medium_error() {
    like_image "HOME=/tmp/home-read10 VORKA_IMAGE_MEDIUM_ERRORS=$bad_sector" "$sr_damaged" \
        -t 2 -f wav || return 1
    cat /tmp/got/messages
    [ "$(cat /tmp/got/status)" = 1 ] &&
        grep -q 'error returned from CD-DA read command' /tmp/got/messages &&
        [ "$(stat -c %s /tmp/got/track02.wav)" = $((44 + 78 * 2352)) ] &&
        drive_at_data_defaults damaged
}
# The kind's fallbacks (MODE SELECT(10), READ CD for raw sectors) through
# the kernel as on the image: the same commands with the same outcomes.
case_kind() {
    succeeds_like_image "VORKA_IMAGE_DRIVE=$1" "$2" -f wav && [ -s /tmp/got/track04.wav ] &&
        grep -q "^55 10 " /tmp/got.log && diff /tmp/ref.log /tmp/got.log
}
# Taking the drives away as vorka-tcmu(8) says: the LUNs go, each
# vorka-tcmu ends with status 0 on SIGTERM, the backstores go.
case_teardown() {
    local lun=0 name pid status
    for name in plain atapi mmc damaged; do
        rm "$tpg/lun/lun_$lun/$name" && rmdir "$tpg/lun/lun_$lun" || return 1
        lun=$((lun + 1))
    done
    rmdir "$tpg" "$target/loopback/$wwn" || return 1
    [ -z "$(ls /sys/bus/scsi/devices/ | grep ':0:1:')" ] || return 1
    for name in plain atapi mmc damaged; do
        eval "pid=\$pid_$name"
        kill -TERM "$pid"
        status=0
        wait "$pid" || status=$?
        echo "$name: status $status"
        cat "/tmp/$name.tcmu"
        [ "$status" = 0 ] && rmdir "$target/core/user_0/$name" || return 1
    done
}
case_log() { succeeds_like_image "" "$1" -t 1-4 -f wav && diff /tmp/ref.log /tmp/got.log; }

echo  # ends the firmware's last line on the console
setup
check "listing -i on $sr" case_listing "$sr"
check "listing -i on $sg" case_listing "$sg"
check "listing -iq on $sr" case_compact_listing "$sr"
check "listing -iq on $sg" case_compact_listing "$sg"
check "per-track WAV on $sr" case_wav_tracks "$sr"
check "per-track WAV on $sg" case_wav_tracks "$sg"
check "per-track raw on $sr" case_raw_tracks "$sr"
check "one stream to standard output on $sr" case_stream "$sr"
check "sector range on $sr" case_range "$sr"
check "AIFF, byte-swapped, on $sr" case_aiff "$sr"
check "READ CD (0xBE) on $sr" case_read_cd
check "READ(10) with a density change on $sr" case_read10_density
check "12-byte 0xD8 read as root on $sr" case_d8_root
check "READ CD as a user of group cdrom on $sr" case_user_read_cd "$sr"
check "READ CD as a user of group cdrom on $sg" case_user_read_cd "$sg"
check "0xD8 as a user of group cdrom needs root on $sr" case_user_d8 "$sr"
check "medium error in track 2 on $sr_damaged, drive back at data defaults" case_medium_error
check "atapi drive kind on $sr_atapi" case_kind atapi "$sr_atapi"
check "mmc drive kind on $sr_mmc" case_kind mmc "$sr_mmc"
check "VORKA_SCSI_LOG sequence on $sr" case_log "$sr"
check "VORKA_SCSI_LOG sequence on $sg" case_log "$sg"
check "the drives taken away, vorka-tcmu ends on SIGTERM" case_teardown
echo "$passed passed, $failed failed"
