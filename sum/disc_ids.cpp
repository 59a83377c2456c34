#include "sum/disc_ids.h"

#include <discid/discid.h>

#include <cstdio>
#include <memory>

namespace {

constexpr std::int64_t lead_in_sectors = 150;  // before track 1, outside the addresses
constexpr std::int64_t sectors_per_second = 75;

std::uint32_t digit_sum(std::int64_t value) {
    std::uint32_t sum = 0;
    for (; value > 0; value /= 10) {
        sum += static_cast<std::uint32_t>(value % 10);
    }
    return sum;
}

std::int64_t seconds_at(std::int64_t sector) {
    return (sector + lead_in_sectors) / sectors_per_second;
}

}  // namespace

std::uint32_t freedb_id(const disc_layout& layout) {
    std::uint32_t digits = 0;
    for (int i = 0; i < layout.track_count; ++i) {
        digits += digit_sum(seconds_at(layout.start[i]));
    }
    const auto playing =
        static_cast<std::uint32_t>(seconds_at(layout.leadout()) - seconds_at(layout.start[0]));
    return (digits % 255) << 24 | (playing & 0xffff) << 8 |
           static_cast<std::uint32_t>(layout.track_count);
}

accuraterip_ids accuraterip_disc_ids(const disc_layout& layout) {
    accuraterip_ids ids;
    ids.audio_tracks = layout.audio_tracks;
    for (int track = layout.first_audio; track <= layout.last_audio(); ++track) {
        const auto start = static_cast<std::uint32_t>(layout.first_sector(track));
        ids.id1 += start;
        ids.id2 +=
            (start > 0 ? start : 1) * static_cast<std::uint32_t>(layout.audio_position(track));
    }
    const auto leadout = static_cast<std::uint32_t>(layout.leadout());
    ids.id1 += leadout;
    ids.id2 += leadout * static_cast<std::uint32_t>(layout.audio_tracks + 1);
    ids.freedb = freedb_id(layout);
    return ids;
}

std::string accuraterip_name(const accuraterip_ids& ids) {
    char text[40];
    std::snprintf(text, sizeof text, "%03d-%08x-%08x-%08x", ids.audio_tracks, ids.id1, ids.id2,
                  ids.freedb);
    return text;
}

std::string accuraterip_url(const accuraterip_ids& ids) {
    char folders[16];
    std::snprintf(folders, sizeof folders, "%x/%x/%x/", ids.id1 & 0xf, ids.id1 >> 4 & 0xf,
                  ids.id1 >> 8 & 0xf);
    return std::string("http://www.accuraterip.com/accuraterip/") + folders + "dBAR-" +
           accuraterip_name(ids) + ".bin";
}

std::string musicbrainz_id(const disc_layout& layout, std::string& error) {
    const std::unique_ptr<DiscId, void (*)(DiscId*)> disc(discid_new(), discid_free);
    if (disc == nullptr) {
        error = "libdiscid could not start";
        return {};
    }
    // The data track of a mixed-mode CD counts as track 1.
    int offsets[100] = {};
    offsets[0] = static_cast<int>(layout.audio_end + lead_in_sectors);
    for (int track = 1; track <= layout.last_audio(); ++track) {
        offsets[track] = static_cast<int>(layout.first_sector(track) + lead_in_sectors);
    }
    if (discid_put(disc.get(), 1, layout.last_audio(), offsets) == 0) {
        error = discid_get_error_msg(disc.get());
        return {};
    }
    return discid_get_id(disc.get());
}
