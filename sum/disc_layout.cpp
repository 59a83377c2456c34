#include "sum/disc_layout.h"

#include "sum/accuraterip.h"

std::uint64_t disc_layout::frames(int track) const {
    return static_cast<std::uint64_t>(end_sector(track) - first_sector(track)) * frames_per_sector;
}

std::uint64_t disc_layout::audio_frames() const {
    return static_cast<std::uint64_t>(audio_end - start[first_audio - 1]) * frames_per_sector;
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
    // A mixed-mode CD has its data track first, an enhanced CD last.
    const bool mixed = track_kind(table, 0) != track_kind_audio;
    const int first = mixed ? 1 : 0;
    int audio = 0;
    while (first + audio < count && track_kind(table, first + audio) == track_kind_audio) {
        ++audio;
    }
    constexpr const char* which =
        ": only audio CDs, enhanced CDs (audio tracks, then one data track) and mixed-mode CDs "
        "(one data track, then audio tracks) have these identifiers";
    if (audio == 0) {
        error = std::string(count == 1 ? "the only track" : "track 2") + " is a data track" + which;
        return false;
    }
    if (first + audio < count - 1) {
        error = "track " + std::to_string(first + audio + 1) +
                " is a data track between audio tracks" + which;
        return false;
    }
    layout.audio_tracks = audio;
    layout.first_audio = first + 1;
    layout.mixed = mixed;
    layout.enhanced = first + audio < count;
    layout.audio_end = layout.leadout();
    if (layout.enhanced && table.audio_session_end >= 0) {
        layout.audio_end = table.audio_session_end;
    } else if (layout.enhanced) {
        const int data = first + audio;  // index of the data track
        const std::int64_t data_start = layout.start[data];
        const std::int64_t session_end = data_start - session_gap_sectors;
        layout.audio_end = session_end > layout.start[data - 1] ? session_end : data_start;
    }
    return true;
}
