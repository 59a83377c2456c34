#pragma once

#include <cstdint>
#include <string>

#include "sum/disc_layout.h"

// The freedb (CDDB) disc ID: the digit sums of every track's start in
// seconds (the 150 sectors before track 1 included), modulo 255, in the top
// byte; the playing time from track 1 to the lead-out in seconds; the number
// of tracks.  Data tracks count like audio tracks.
std::uint32_t freedb_id(const disc_layout& layout);

// The AccurateRip disc IDs: id1 sums the audio tracks' start sectors and the
// lead-out, id2 weighs each start (at least 1) with its track number and
// the lead-out with the number of audio tracks plus one; the third ID is the
// freedb ID.  A data track adds nothing but its lead-out.
struct accuraterip_ids {
    int audio_tracks = 0;
    std::uint32_t id1 = 0;
    std::uint32_t id2 = 0;
    std::uint32_t freedb = 0;

    bool operator==(const accuraterip_ids&) const = default;
};
accuraterip_ids accuraterip_disc_ids(const disc_layout& layout);

// "NNN-XXXXXXXX-XXXXXXXX-XXXXXXXX": the track count and the three IDs.
std::string accuraterip_name(const accuraterip_ids& ids);

// Where the database keeps the entry of this disc.
std::string accuraterip_url(const accuraterip_ids& ids);

// The MusicBrainz disc ID, computed by libdiscid from the layout: the audio
// tracks and the end of the audio.  Empty, with libdiscid's reason in
// `error`, when libdiscid refuses the table.
std::string musicbrainz_id(const disc_layout& layout, std::string& error);
