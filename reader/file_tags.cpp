#include "reader/file_tags.h"

#include "sum/disc_ids.h"
#include "sum/disc_layout.h"

namespace {

int audio_track_count(const track_table& table) {
    int count = 0;
    for (int t = 0; t < table.track_count; ++t) {
        count += track_kind(table, t) == track_kind_audio ? 1 : 0;
    }
    return count;
}

}  // namespace

std::vector<std::string> disc_tags(const track_table& table) {
    disc_layout layout;
    std::string error;
    if (!make_disc_layout(table, layout, error)) {
        return {};
    }
    std::vector<std::string> tags;
    const std::string musicbrainz = musicbrainz_id(layout, error);
    if (!musicbrainz.empty()) {
        tags.push_back("MUSICBRAINZ_DISCID=" + musicbrainz);
    }
    tags.push_back("ACCURATERIP_ID=" + accuraterip_name(accuraterip_disc_ids(layout)));
    return tags;
}

std::vector<std::string> track_file_tags(const track_table& table, int track_number,
                                         const std::vector<std::string>& disc) {
    std::vector<std::string> tags{"TRACKNUMBER=" + std::to_string(track_number),
                                  "TRACKTOTAL=" + std::to_string(audio_track_count(table))};
    tags.insert(tags.end(), disc.begin(), disc.end());
    return tags;
}
