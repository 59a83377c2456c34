#include "image/subchannel.h"

#include <algorithm>
#include <cstring>

#include "image/read_cd_fields.h"

namespace {

constexpr std::uint32_t msf_offset = 150;
constexpr std::uint8_t adr_position = 1, adr_catalog = 2, adr_isrc = 3;

// Which sectors carry the catalog number and the ISRC: one in a hundred
// each, by absolute frame number, far enough apart that nine of every ten
// sectors still carry the position.
constexpr std::uint32_t mode_period = 100;
constexpr std::uint32_t catalog_phase = 25, isrc_phase = 75;

void put_msf(std::uint8_t* out, std::uint32_t frames) {
    out[0] = bcd_byte(frames / 4500);
    out[1] = bcd_byte(frames / 75 % 60);
    out[2] = bcd_byte(frames % 75);
}

void finish(std::array<std::uint8_t, 12>& q) {
    const std::uint16_t crc = subchannel_crc({q.data(), 10});
    q[10] = static_cast<std::uint8_t>(crc >> 8);
    q[11] = static_cast<std::uint8_t>(crc);
}

// ISRC characters as the Q channel codes them in six bits: '0' to '9' as
// 0 to 9, 'A' to 'Z' as 17 to 42.
std::uint32_t isrc_code(char c) {
    return static_cast<std::uint32_t>(c - '0') & 0x3f;
}

}  // namespace

std::uint16_t subchannel_crc(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return static_cast<std::uint16_t>(~crc);
}

std::uint8_t bcd_byte(std::uint32_t value) {
    return static_cast<std::uint8_t>((value / 10 % 10) << 4 | (value % 10));
}

disc_position position_of(const disc_image& image, std::uint32_t lba) {
    const auto& tracks = image.tracks();
    auto after =
        std::upper_bound(tracks.begin(), tracks.end(), lba,
                         [](std::uint32_t a, const image_track& t) { return a < t.pregap_start; });
    const image_track& track = after == tracks.begin() ? tracks.front() : *(after - 1);
    disc_position position;
    position.track = &track;
    position.relative = static_cast<std::int32_t>(lba) - static_cast<std::int32_t>(track.start);
    for (const std::uint32_t mark : track.indexes) {
        if (mark <= lba) {
            ++position.index;
        }
    }
    return position;
}

std::uint8_t track_control(const image_track& track) {
    if (track.mode != track_mode::audio) {
        return 0x04;
    }
    return track.pre_emphasis ? 0x01 : 0x00;
}

std::array<std::uint8_t, 12> position_q(const disc_image& image, std::uint32_t lba) {
    const disc_position at = position_of(image, lba);
    std::array<std::uint8_t, 12> q{};
    q[0] = static_cast<std::uint8_t>(track_control(*at.track) << 4 | adr_position);
    q[1] = bcd_byte(static_cast<std::uint32_t>(at.track->number));
    q[2] = bcd_byte(static_cast<std::uint32_t>(at.index));
    // In the pregap the time runs down to zero at its last sector.
    const std::uint32_t relative = at.relative >= 0 ? static_cast<std::uint32_t>(at.relative)
                                                    : static_cast<std::uint32_t>(-at.relative - 1);
    put_msf(q.data() + 3, relative);
    put_msf(q.data() + 7, lba + msf_offset);
    finish(q);
    return q;
}

sector_subchannel subchannel_of(const disc_image& image, std::uint32_t lba) {
    sector_subchannel sub;
    const disc_position at = position_of(image, lba);
    sub.p = at.index == 0;
    const std::uint32_t frame = lba + msf_offset;
    const std::uint8_t control = track_control(*at.track);
    auto& q = sub.q;
    if (!image.catalog().empty() && frame % mode_period == catalog_phase) {
        const std::string& digits = image.catalog();
        q[0] = static_cast<std::uint8_t>(control << 4 | adr_catalog);
        for (std::size_t i = 0; i < 13; ++i) {
            const auto digit = static_cast<std::uint8_t>(digits[i] - '0');
            q[1 + i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : digit);
        }
        q[9] = bcd_byte(frame % 75);
        finish(q);
        return sub;
    }
    const std::string& isrc = at.track->isrc;
    if (!isrc.empty() && at.index > 0 && frame % mode_period == isrc_phase) {
        q[0] = static_cast<std::uint8_t>(control << 4 | adr_isrc);
        // Five six-bit characters and two zero bits, then seven BCD digits
        // and four zero bits.
        std::uint32_t letters = 0;
        for (std::size_t i = 0; i < 5; ++i) {
            letters = letters << 6 | isrc_code(isrc[i]);
        }
        letters <<= 2;
        for (std::size_t i = 0; i < 4; ++i) {
            q[1 + i] = static_cast<std::uint8_t>(letters >> (24 - 8 * i));
        }
        for (std::size_t i = 0; i < 7; ++i) {
            const auto digit = static_cast<std::uint8_t>(isrc[5 + i] - '0');
            q[5 + i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : digit);
        }
        q[9] = bcd_byte(frame % 75);
        finish(q);
        return sub;
    }
    sub.q = position_q(image, lba);
    return sub;
}

void write_subchannel(const sector_subchannel& sub, std::uint8_t selection, std::uint8_t* out) {
    switch (selection) {
        case subchannel_raw_pw:
            for (std::size_t i = 0; i < 96; ++i) {
                const bool q_bit = ((sub.q[i / 8] >> (7 - i % 8)) & 1) != 0;
                out[i] = static_cast<std::uint8_t>((sub.p ? 0x80 : 0) | (q_bit ? 0x40 : 0));
            }
            break;
        case subchannel_formatted_q:
            std::memcpy(out, sub.q.data(), sub.q.size());
            std::memset(out + 12, 0, 4);
            out[15] = sub.p ? 0x80 : 0;
            break;
        case subchannel_rw:
            std::memset(out, 0, 96);
            break;
        default:
            break;
    }
}
