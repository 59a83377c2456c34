#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "scsi/toc.h"

// What the disc identifiers and checksums need of the table of contents.
// Tracks are numbered from 1; start[track_count] is the lead-out.
struct disc_layout {
    int track_count = 0;    // every track, a data track included
    int audio_tracks = 0;   // tracks first_audio to last_audio() are audio
    int first_audio = 1;    // 2 on a mixed-mode CD
    bool enhanced = false;  // audio tracks, then one data track
    bool mixed = false;     // one data track, then audio tracks
    std::array<std::int64_t, max_disc_tracks + 1> start{};
    // Where the audio of the last audio track ends: the lead-out, or on an
    // enhanced CD the end of the first session, as the drive reports it or
    // else session_gap_sectors before the data track (where the data track
    // starts, on a disc image that marks no second session and keeps no gap).
    std::int64_t audio_end = 0;

    std::int64_t leadout() const { return start[track_count]; }
    // The sectors of an audio track (1-based).
    std::int64_t first_sector(int track) const { return start[track - 1]; }
    std::int64_t end_sector(int track) const {
        return track == last_audio() ? audio_end : start[track];
    }
    int last_audio() const { return first_audio + audio_tracks - 1; }
    // Where an audio track stands among the audio tracks, from 1: the
    // number AccurateRip knows it by.
    int audio_position(int track) const { return track - first_audio + 1; }
    std::uint64_t frames(int track) const;
    // Frames from the start of the first audio track to the end of the last.
    std::uint64_t audio_frames() const;
};

// Builds the layout of a pure audio CD, an enhanced CD or a mixed-mode CD.
// Anything else (no tracks, addresses out of order, no audio, a data track
// between audio tracks) gives false and the reason in `error`.
bool make_disc_layout(const track_table& table, disc_layout& layout, std::string& error);
