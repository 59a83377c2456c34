#!/usr/bin/env python3
"""A second, independent computation of what vorkasum prints, written from
the published descriptions of the freedb (CDDB) disc ID, the MusicBrainz
disc ID, the AccurateRip disc IDs and checksums, and CRC-32.  The tests
hold vorkasum's output against it.

    independent_sums.py [--enhanced | --mixed] START... LEADOUT [-- FILE...]

START... are the tracks' first sectors and LEADOUT the lead-out, as the
table of contents gives them; with --enhanced the last track is a data
track, with --mixed the first.  Each FILE is headerless PCM, little-endian,
of one audio track in order from the first audio track.  Prints the lines
vorkasum prints, with the file names as given.

A mixed-mode CD keeps its data track as track 1 for freedb and MusicBrainz
(as libdiscid reads such a disc); AccurateRip numbers the audio tracks
alone, from 1, and its first and last track are the first and last audio
tracks.
"""

import array
import base64
import hashlib
import sys
import zlib

LEAD_IN = 150
SESSION_GAP = 11400
EDGE = 5 * 588


def freedb(starts, leadout):
    def digits(n):
        return sum(int(d) for d in str(n))

    n = sum(digits((s + LEAD_IN) // 75) for s in starts)
    t = (leadout + LEAD_IN) // 75 - (starts[0] + LEAD_IN) // 75
    return (n % 255) << 24 | t << 8 | len(starts)


def musicbrainz(track_starts, audio_leadout):
    text = "%02X%02X" % (1, len(track_starts))
    offsets = [audio_leadout + LEAD_IN] + [s + LEAD_IN for s in track_starts]
    offsets += [0] * (100 - len(offsets))
    text += "".join("%08X" % o for o in offsets)
    digest = base64.b64encode(hashlib.sha1(text.encode("ascii")).digest()).decode()
    return digest.replace("+", ".").replace("/", "_").replace("=", "-")


def accuraterip_ids(audio_starts, leadout, cddb):
    id1 = (sum(audio_starts) + leadout) & 0xFFFFFFFF
    id2 = sum(max(s, 1) * (i + 1) for i, s in enumerate(audio_starts))
    id2 = (id2 + leadout * (len(audio_starts) + 1)) & 0xFFFFFFFF
    return len(audio_starts), id1, id2, cddb


def track_sums(data, first, last):
    frames = array.array("I")
    frames.frombytes(data)
    if sys.byteorder != "little":
        frames.byteswap()
    low = 0
    high = 0
    start = EDGE if first else 1
    end = len(frames) - EDGE if last else len(frames)
    for position in range(start, end + 1):
        product = frames[position - 1] * position
        low += product & 0xFFFFFFFF
        high += product >> 32
    return zlib.crc32(data), low & 0xFFFFFFFF, (low + high) & 0xFFFFFFFF


def main(args):
    enhanced = mixed = False
    if args and args[0] == "--enhanced":
        enhanced = True
        args = args[1:]
    elif args and args[0] == "--mixed":
        mixed = True
        args = args[1:]
    files = []
    if "--" in args:
        files = args[args.index("--") + 1:]
        args = args[: args.index("--")]
    sectors = [int(a) for a in args]
    starts, leadout = sectors[:-1], sectors[-1]
    audio_starts = starts[:-1] if enhanced else starts[1:] if mixed else starts
    first_audio = 2 if mixed else 1
    audio_end = leadout
    if enhanced:
        audio_end = starts[-1] - SESSION_GAP
        if audio_end <= audio_starts[-1]:
            audio_end = starts[-1]
    cddb = freedb(starts, leadout)
    ids = accuraterip_ids(audio_starts, leadout, cddb)
    name = "%03d-%08x-%08x-%08x" % ids
    print("freedb %08x" % cddb)
    print("musicbrainz " + musicbrainz(starts[:1] + audio_starts if mixed else audio_starts,
                                       audio_end))
    print("accuraterip " + name)
    print("accuraterip-url http://www.accuraterip.com/accuraterip/%x/%x/%x/dBAR-%s.bin"
          % (ids[1] & 15, ids[1] >> 4 & 15, ids[1] >> 8 & 15, name))
    for index, path in enumerate(files):
        track = index + first_audio
        with open(path, "rb") as f:
            data = f.read()
        crc, v1, v2 = track_sums(data, index == 0, index + 1 == len(audio_starts))
        print("track %d %d %08x %08x %08x %s" % (track, len(data) // 4, crc, v1, v2, path))


if __name__ == "__main__":
    main(sys.argv[1:])
