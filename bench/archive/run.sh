#!/usr/bin/env bash
# How fast vorka rips a disc image kept as one FLAC file with its cue sheet,
# next to the same image kept as one WAV file: what decoding FLAC as it is
# read costs, with the flac program's own decoding of the file beside it.  Also the peak memory of both rips, which shows that the FLAC
# file is never decoded whole into memory.
#
#   bench/archive/run.sh [folder of the built programs] [minutes, at least 60] [rounds]
#
# The image is music (so that FLAC compresses it as it does a real disc),
# made in a fresh folder under TMPDIR (or /tmp) and compressed with the flac
# program; both images are read once beforehand, so that every run finds
# them in the page cache.  The best of the rounds counts.  The folder is
# removed at the end, also after a failure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/default/bin}" && pwd)
minutes=${2:-60}
rounds=${3:-3}
tracks=12

# shellcheck source=bench/common.sh
. "$root/bench/common.sh"

need_built vorka vorka-mkimage
need_installed flac /usr/bin/time
need_minutes "$minutes" "the reading"
make_work archive

sectors=$((minutes * 4500))
bytes=$((sectors * 2352))
# The WAV image, its FLAC copy (smaller) and one rip, plus a margin.
need_free_kib $((3 * bytes / 1024 + 256 * 1024))

# Twelve audio tracks of equal length in one WAV file, 2-second gaps in it.
per_track=$((sectors / tracks))
specs=("audio:$per_track")
for _ in $(seq 2 "$tracks"); do
    specs+=("audio:$((per_track - 150)),index0=150")
done
mkdir "$work/wav" "$work/flac"
wav_cue=$("$bin/vorka-mkimage" --music --wav --name disc "$work/wav" "${specs[@]}")
flac --silent --output-name="$work/flac/disc-01.flac" "$work/wav/disc-01.wav"
# As rippers write it: the FLAC file under the type WAVE.
sed 's/disc-01\.wav" WAVE/disc-01.flac" WAVE/' "$wav_cue" >"$work/flac/disc.cue"
flac_cue=$work/flac/disc.cue
wav_bytes=$(stat -c %s "$work/wav/disc-01.wav")
flac_bytes=$(stat -c %s "$work/flac/disc-01.flac")
cat "$work/wav/disc-01.wav" "$work/flac/disc-01.flac" >/dev/null

make_home

rip() {
    HOME=$work/home "$bin/vorka" -q -d "$1" -f wav -o "$work/rip/track%02d.%s"
}

# The peak resident memory of one rip, in KiB.
peak_kib() {
    rm -rf "$work/rip"
    mkdir "$work/rip"
    HOME=$work/home /usr/bin/time -f %M "$bin/vorka" -q -d "$1" -f wav \
        -o "$work/rip/track%02d.%s" 2>&1 >/dev/null | tail -n 1
}

best_wav=
best_flac=
best_decode=
for _ in $(seq "$rounds"); do
    t=$(time_ns flac --silent --decode --stdout "$work/flac/disc-01.flac")
    best_decode=$(min "${best_decode:-$t}" "$t")
    for kind in wav flac; do
        rm -rf "$work/rip"
        mkdir "$work/rip"
        cue=$wav_cue
        [ "$kind" = flac ] && cue=$flac_cue
        t=$(time_ns rip "$cue")
        if [ "$kind" = wav ]; then
            best_wav=$(min "${best_wav:-$t}" "$t")
        else
            best_flac=$(min "${best_flac:-$t}" "$t")
        fi
    done
done
# The two rips must be the same audio.
for kind in wav flac; do
    rm -rf "$work/rip.$kind"
    cue=$wav_cue
    [ "$kind" = flac ] && cue=$flac_cue
    rm -rf "$work/rip"
    mkdir "$work/rip"
    rip "$cue"
    mv "$work/rip" "$work/rip.$kind"
done
if ! diff -r "$work/rip.wav" "$work/rip.flac" >/dev/null; then
    echo "$0: the FLAC image did not rip to the same files as the WAV image" >&2
    exit 1
fi
rm -rf "$work/rip.wav" "$work/rip.flac"
peak_wav=$(peak_kib "$wav_cue")
peak_flac=$(peak_kib "$flac_cue")
rm -rf "$work/rip"

rate() { awk -v b="$bytes" -v ns="$1" 'BEGIN { printf "%8.0f MB/s of audio  (%6.0f ms)", b * 1000 / ns, ns / 1e6 }'; }

echo "image: $minutes minutes of music, $tracks tracks in one file; WAV $((wav_bytes / 1000000)) MB,"
echo "FLAC $((flac_bytes / 1000000)) MB; in the page cache; best of $rounds rounds (MB = 10^6 bytes)"
echo "vorka -f wav from WAV+cue:  $(rate "$best_wav")  peak memory $((peak_wav / 1024)) MiB"
echo "vorka -f wav from FLAC+cue: $(rate "$best_flac")  peak memory $((peak_flac / 1024)) MiB"
echo "flac --decode to a pipe:    $(rate "$best_decode")"
awk -v w="$best_wav" -v f="$best_flac" 'BEGIN {
    printf "FLAC+cue / WAV+cue time:    %8.2f x; the rips are identical\n", f / w
}'
