#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "scsi/channel.h"
#include "scsi/read_mode.h"
#include "scsi/track_kind.h"

inline constexpr int max_disc_tracks = 100;

// The disc's table of contents.  Entry track_count is the lead-out, where the
// last track ends.
struct track_table {
    int track_count = 0;
    std::array<std::int64_t, max_disc_tracks + 1> track_start{};
    // Audio tracks and the lead-out: the descriptor's ADR/control byte.  Data
    // tracks: the mode byte of their first sector with the data bit set.
    std::array<std::uint8_t, max_disc_tracks + 1> track_type{};
    // On a disc whose audio session is followed by a data session (an
    // enhanced CD): the first session's lead-out, where its last audio track
    // ends.  -1 on every other disc.
    std::int64_t audio_session_end = -1;
};

// The sectors between the end of an enhanced CD's audio session and the
// start of its data track: the session's lead-out (6750), the next
// session's lead-in (4500) and the data track's pregap (150).
inline constexpr std::int64_t session_gap_sectors = 11400;

// Reads the table of contents and probes every data track's first sector
// for its mode; a data track whose first sector the drive refuses to read
// stays a data track.  Leaves the drive at density 0 with 2048-byte blocks.
// The mode commands go by what the state knows of the drive.
void load_track_table(scsi_device& device, read_mode_state& state, track_table& table);

// Fills the table from a READ TOC response (format 0, LBA addresses).
void parse_track_table(const std::uint8_t* response, track_table& table);

// On a disc in the shape of an enhanced CD (audio tracks from the first on,
// then only data tracks, the first of them more than session_gap_sectors
// after the last audio track begins) asks the drive for its sessions
// (READ TOC format 1) and, on a disc of several, for the first session's
// lead-out (point A2 of the full TOC, format 2).  A drive that refuses
// either gives the rule of enhanced CDs instead: the audio ends
// session_gap_sectors before the data track.  Sends nothing for any other
// disc.  Uses transfer_buffer.
void read_audio_session_end(scsi_device& device, track_table& table);

// The sector after the last one of the track (0-based index): the next
// track's start, or for the last audio track of an enhanced CD's first
// session that session's lead-out.
std::int64_t track_end(const track_table& table, int index);

// The mode byte of one raw 2352-byte sector, read with READ(10) from a
// drive delivering 2352-byte blocks or with the raw READ CD; nothing when the
// drive answers CHECK CONDITION (a damaged sector).  Any other failure ends
// the run.
std::optional<std::uint8_t> read_sector_mode(scsi_device& device, std::uint32_t sector,
                                             bool read_cd);

int track_kind(const track_table& table, int index);

struct sector_span {
    std::int64_t first = 0;
    std::int64_t end = 0;  // exclusive
};

// The audio area around a sector of an audio track: the run of audio tracks
// that holds it, from sector 0 when the run begins with the first track, to
// the end of its last track (the lead-out, or on an enhanced CD the first
// session's lead-out).  A sector of no track: the whole disc.
sector_span audio_area(const track_table& table, std::int64_t sector);

// The kind of the track that holds the sector; sectors before the first
// track count as the first track, sectors at or past the lead-out as the last.
int track_kind_at(const track_table& table, std::int64_t sector);
