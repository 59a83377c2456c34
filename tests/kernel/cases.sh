#!/bin/sh
# The cases, run as root in the guest (busybox sh).  Four target_core_user
# backstores, each served by its own vorka-tcmu from one generated disc
# image, become four LUNs of one tcm_loop target: the default drive kind, the
# atapi and mmc kinds, and the default kind with a bad sector in track 2.
# Further LUNs serve a mixed-mode disc, a disc with texts and an enhanced CD
# on each drive kind.
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

# The mixed-mode disc: the ISO 9660 file system of /data as track 1
# (MODE1/2048), then three audio tracks after a 2-second pregap, as game and
# multimedia CDs are laid out.  The disc with texts: three audio tracks with
# a catalog number, ISRCs and CD-Text in the cue sheet.
setup_other_discs() {
    local sectors
    sectors=$(($(stat -c %s /data/data.iso) / 2048))
    mkdir -p /tmp/mixed /tmp/texts
    mixed_cue=$(vorka-mkimage --name mixed /tmp/mixed "mode1/2048:$sectors" \
        audio:300,file,pregap=150 audio:225,index0=75 audio:150)
    cp /data/data.iso /tmp/mixed/mixed-01.bin
    texts_cue=$(vorka-mkimage --name texts /tmp/texts audio:300 audio:225,index0=75 audio:150)
    awk 'NR == 1 {
             print "CATALOG 0724384960650"
             print "PERFORMER \"The Test Band\""
             print "TITLE \"Sub-channel Songs\""
         }
         { print }
         /TRACK 01/ { print "    TITLE \"First Song\""; print "    ISRC GBAYE6700001" }
         /TRACK 02/ {
             print "    TITLE \"Second Song\""
             print "    SONGWRITER \"A. Writer\""
             print "    ISRC GBAYE6700002"
         }
         /TRACK 03/ { print "    TITLE \"Third Song\"" }' "$texts_cue" >/tmp/texts/edited.cue
    mv /tmp/texts/edited.cue "$texts_cue"
    local main_cue=$cue
    cue=$mixed_cue
    serve 4 mixed
    cue=$texts_cue
    serve 5 texts
    cue=$main_cue
    sr_mixed=$(node 4 block) sr_texts=$(node 5 block)
    # The enhanced CD: two audio tracks in the first session, a Mode 2 data
    # track in the second, on each drive kind.
    mkdir -p /tmp/enhanced
    enhanced_cue=$(vorka-mkimage --name enhanced /tmp/enhanced audio:300 audio:225,index0=75 \
        mode2:150,file,session)
    cue=$enhanced_cue
    serve 6 enhanced
    serve 7 enhanced_atapi VORKA_IMAGE_DRIVE=atapi
    serve 8 enhanced_mmc VORKA_IMAGE_DRIVE=mmc
    cue=$main_cue
    sr_enhanced=$(node 6 block) sr_enhanced_atapi=$(node 7 block) sr_enhanced_mmc=$(node 8 block)
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
    for name in plain atapi mmc damaged mixed texts enhanced enhanced_atapi enhanced_mmc; do
        rm "$tpg/lun/lun_$lun/$name" && rmdir "$tpg/lun/lun_$lun" || return 1
        lun=$((lun + 1))
    done
    rmdir "$tpg" "$target/loopback/$wwn" || return 1
    [ -z "$(ls /sys/bus/scsi/devices/ | grep ':0:1:')" ] || return 1
    for name in plain atapi mmc damaged mixed texts enhanced enhanced_atapi enhanced_mmc; do
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
# An enhanced CD through the kernel as on its image: every track, the last
# audio track (375 to 599) ending at the first session's lead-out, the
# commands with the same outcomes.
case_enhanced() {  # case_enhanced KIND DEVICE
    local main_cue=$cue status=0
    cue=$enhanced_cue
    succeeds_like_image "VORKA_IMAGE_DRIVE=$1" "$2" -f wav && diff /tmp/ref.log /tmp/got.log &&
        grep -qF "    2    0:03'00     375     599 " /tmp/got/messages &&
        [ "$(stat -c %s /tmp/got/track02.wav)" = $((44 + 225 * 2352)) ] &&
        grep -q '^43 02 02 ' /tmp/got.log || status=1
    cue=$main_cue
    return $status
}

# --- the programs users run on the other discs ------------------------------

# What a program sent to the drive of backstore NAME since mark NAME was
# called, one line per kind of command (addresses and lengths of reads
# left out), listed after the cases when the kernel's command line asks for
# it with vorka_show_commands=1.
mark() { wc -l <"/tmp/$1.served" >"/tmp/$1.mark"; }
show_commands() {  # show_commands NAME PROGRAM
    [ "${vorka_show_commands:-}" = 1 ] || return 0
    tail -n +$(($(cat "/tmp/$1.mark") + 1)) "/tmp/$1.served" |
        awk -F' [|] ' '{
            n = split($1, b, " ")
            if (b[1] == "be" || b[1] == "28" || b[1] == "d8" || b[1] == "d4")
                for (i = 3; i <= 9 && i <= n; i++) b[i] = ".."
            key = b[1]; for (i = 2; i <= n; i++) key = key " " b[i]
            print key " | " $3
        }' | sort | uniq -c | sed "s/^/$2 on $1: /" >>/tmp/commands.log
}

# ripped_like_image PROGRAM DEVICE CUE TRACK...: the program rips each track
# through the kernel as vorka reads it from the image (headerless,
# little-endian), aborting on any read it cannot verify.
ripped_like_image() {
    local program=$1 device=$2 cue=$3 t
    shift 3
    rm -rf /tmp/rip
    mkdir -p /tmp/rip
    for t in "$@"; do
        (cd /tmp/rip && env HOME=/tmp/home vorka -q -d "$cue" -t "$t" -f pcm -o "ref%02d.%s") ||
            return 1
        "$program" -q -X -d "$device" -r -- "$t" "/tmp/rip/$t.raw" || return 1
        cmp "/tmp/rip/ref$(printf %02d "$t").raw" "/tmp/rip/$t.raw" || return 1
    done
}
case_ripper() {  # case_ripper PROGRAM NAME DEVICE CUE TRACK...
    local program=$1 name=$2
    shift 2
    mark "$name"
    ripped_like_image "$program" "$@"
    local status=$?
    show_commands "$name" "$program"
    return $status
}

# vorkasum through the kernel prints what it prints on the image; cd-discid
# computes its freedb ID, libdiscid its MusicBrainz ID.
case_disc_ids() {  # case_disc_ids NAME DEVICE CUE
    local name=$1 device=$2 cue=$3 freedb
    vorkasum -d "$cue" >/tmp/ids.image || return 1
    vorkasum -d "$device" >/tmp/ids.kernel || return 1
    diff /tmp/ids.image /tmp/ids.kernel || return 1
    cat /tmp/ids.kernel
    mark "$name"
    cd-discid "$device" >/tmp/ids.cd-discid || return 1
    show_commands "$name" cd-discid
    cat /tmp/ids.cd-discid
    freedb=$(awk '$1 == "freedb" { print $2 }' /tmp/ids.kernel)
    [ "$(cut -d ' ' -f 1 /tmp/ids.cd-discid)" = "$freedb" ] || return 1
    mark "$name"
    discid-check "$device" >/tmp/ids.libdiscid || return 1
    show_commands "$name" libdiscid
    cat /tmp/ids.libdiscid
    # libdiscid leaves an enhanced CD's data session out of its freedb ID,
    # which cd-discid and the freedb rules count.
    [ "$name" = enhanced ] || grep -qx "freedb $freedb" /tmp/ids.libdiscid || return 1
    grep -qx "$(grep '^musicbrainz ' /tmp/ids.kernel)" /tmp/ids.libdiscid
}

# libdiscid and cd-info read the catalog number, the ISRCs and the CD-Text
# that the cue sheet gives.
case_texts() {
    discid-check "$sr_texts" >/tmp/texts.libdiscid || return 1
    cat /tmp/texts.libdiscid
    grep -qx 'mcn 0724384960650' /tmp/texts.libdiscid &&
        grep -qx 'isrc 1 GBAYE6700001' /tmp/texts.libdiscid &&
        grep -qx 'isrc 2 GBAYE6700002' /tmp/texts.libdiscid &&
        grep -qx 'isrc 3 ' /tmp/texts.libdiscid || return 1
    mark texts
    cd-info --no-cddb "$sr_texts" >/tmp/texts.cd-info 2>&1
    show_commands texts cd-info
    cat /tmp/texts.cd-info
    local text
    for text in 0724384960650 GBAYE6700001 GBAYE6700002 "Sub-channel Songs" "The Test Band" \
        "First Song" "Second Song" "Third Song" "A. Writer"; do
        grep -qF "$text" /tmp/texts.cd-info || { echo "cd-info does not show $text"; return 1; }
    done
}

case_cd_info_mixed() {
    mark mixed
    cd-info --no-cddb "$sr_mixed" >/tmp/mixed.cd-info 2>&1
    show_commands mixed cd-info
    cat /tmp/mixed.cd-info
    grep -qi 'mixed' /tmp/mixed.cd-info && grep -q 'ISO 9660' /tmp/mixed.cd-info &&
        grep -q 'VORKA_DATA' /tmp/mixed.cd-info
}

# The kernel mounts the data track; its files and its sectors read back as
# the ISO image holds them.
case_mount() {
    local sectors
    sectors=$(($(stat -c %s /data/data.iso) / 2048))
    dd if="$sr_mixed" bs=2048 count="$sectors" 2>/dev/null | cmp - /data/data.iso || return 1
    mkdir -p /mnt/data
    mount -t iso9660 -o ro "$sr_mixed" /mnt/data || return 1
    local status=0
    diff -r /data/files /mnt/data || status=1
    umount /mnt/data
    return $status
}

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
setup_other_discs
check "cdparanoia rips the mixed-mode disc's audio on $sr_mixed" \
    case_ripper cdparanoia mixed "$sr_mixed" "$mixed_cue" 2 3 4
check "cd-paranoia rips the mixed-mode disc's audio on $sr_mixed" \
    case_ripper cd-paranoia mixed "$sr_mixed" "$mixed_cue" 2 3 4
check "cdparanoia rips the audio CD on $sr_texts" \
    case_ripper cdparanoia texts "$sr_texts" "$texts_cue" 1 2 3
check "cd-paranoia rips the audio CD on $sr_texts" \
    case_ripper cd-paranoia texts "$sr_texts" "$texts_cue" 1 2 3
check "vorkasum, cd-discid and libdiscid agree on $sr_mixed" \
    case_disc_ids mixed "$sr_mixed" "$mixed_cue"
check "vorkasum, cd-discid and libdiscid agree on $sr_texts" \
    case_disc_ids texts "$sr_texts" "$texts_cue"
check "catalog number, ISRCs and CD-Text in libdiscid and cd-info on $sr_texts" case_texts
check "cd-info names the mixed-mode disc and its file system on $sr_mixed" case_cd_info_mixed
check "the data track mounts as ISO 9660 and reads back on $sr_mixed" case_mount
check "the enhanced CD's audio on $sr_enhanced" case_enhanced scsi "$sr_enhanced"
check "the enhanced CD's audio on the atapi kind, $sr_enhanced_atapi" \
    case_enhanced atapi "$sr_enhanced_atapi"
check "the enhanced CD's audio on the mmc kind, $sr_enhanced_mmc" \
    case_enhanced mmc "$sr_enhanced_mmc"
check "vorkasum, cd-discid and libdiscid agree on $sr_enhanced" \
    case_disc_ids enhanced "$sr_enhanced" "$enhanced_cue"
check "the drives taken away, vorka-tcmu ends on SIGTERM" case_teardown
[ -f /tmp/commands.log ] && cat /tmp/commands.log
echo "$passed passed, $failed failed"
