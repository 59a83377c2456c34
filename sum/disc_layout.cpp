#include "sum/disc_layout.h"

#include "sum/accuraterip.h"

std::uint64_t disc_layout::frames(int track) const {
    return static_cast<std::uint64_t>(end_sector(track) - first_sector(track)) * frames_per_sector;
}

std::uint64_t disc_layout::audio_frames() const {
    return static_cast<std::uint64_t>(audio_end - start[0]) * frames_per_sector;
}

bool make_disc_layout(const track_table& table, disc_layout& layout, std::string& error) {
    layout = disc_layout{};
    const int count = table.track_count;
    if (count < 1) {
        error = "the table of contents lists no tracks";
        return false;
    }
    layout.track_count = count;
    for (int i = 0; i <= count; ++i) {
        layout.start[i] = table.track_start[i];
        if (layout.start[i] < 0 || (i > 0 && layout.start[i] <= layout.start[i - 1])) {
            error = i == count ? "the lead-out" : "track " + std::to_string(i + 1);
            error = "the table of contents is out of order: " + error + " starts at sector " +
                    std::to_string(layout.start[i]);
            return false;
        }
    }
    int audio = 0;
    while (audio < count && track_kind(table, audio) == track_kind_audio) {
        ++audio;
    }
    if (audio == 0) {
        error =
            "track 1 is a data track: only audio CDs and enhanced CDs (audio tracks, then "
            "one data track) have these identifiers";
        return false;
    }
    if (audio < count - 1) {
        error = "track " + std::to_string(audio + 1) +
                " is a data track before the last: only audio CDs and enhanced CDs (audio "
                "tracks, then one data track) have these identifiers";
        return false;
    }
    layout.audio_tracks = audio;
    layout.enhanced = audio < count;
    layout.audio_end = layout.leadout();
    if (layout.enhanced && table.audio_session_end >= 0) {
        layout.audio_end = table.audio_session_end;
    } else if (layout.enhanced) {
        const std::int64_t data_start = layout.start[audio];
        const std::int64_t session_end = data_start - session_gap_sectors;
        layout.audio_end = session_end > layout.start[audio - 1] ? session_end : data_start;
    }
    return true;
}
