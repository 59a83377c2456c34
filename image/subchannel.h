#pragma once

// The sub-channel of a disc image's sectors as a pressed disc carries it,
// made from its table of contents, index marks, catalog number and ISRCs.

#include <array>
#include <cstdint>
#include <span>

#include "image/disc_image.h"

// CRC-16 with the polynomial x^16 + x^12 + x^5 + 1, stored inverted, as the
// Q sub-channel and CD-Text packs carry it.
std::uint16_t subchannel_crc(std::span<const std::uint8_t> bytes);

std::uint8_t bcd_byte(std::uint32_t value);

// The track, index and track-relative time of a sector in the program area.
struct disc_position {
    const image_track* track = nullptr;
    int index = 0;              // 0 in the pregap
    std::int32_t relative = 0;  // sectors from INDEX 01; negative in the pregap
};

disc_position position_of(const disc_image& image, std::uint32_t lba);

// The TOC control bits of a track: data, pre-emphasis.
std::uint8_t track_control(const image_track& track);

// The 12 bytes of the sector's Q sub-channel (control and ADR, ten bytes of
// data, CRC), and the P flag, set in pregaps.  Most sectors carry their
// position (ADR 1, times in BCD); where the disc has a catalog number, one
// sector in a hundred carries it instead (ADR 2), and inside a track with
// an ISRC one other sector in a hundred carries that (ADR 3).
struct sector_subchannel {
    std::array<std::uint8_t, 12> q{};
    bool p = false;
};

sector_subchannel subchannel_of(const disc_image& image, std::uint32_t lba);

// The Q sub-channel of the position (ADR 1) alone.
std::array<std::uint8_t, 12> position_q(const disc_image& image, std::uint32_t lba);

// Byte 10 of READ CD: 96 bytes of raw P-W (one bit of each channel per
// byte, P in bit 7, Q in bit 6; R-W are zero, the disc having no CD+G),
// 16 bytes of formatted Q (Q's 12 bytes, three zero bytes, P in bit 7 of
// the last), or 96 bytes of R-W (zero).
void write_subchannel(const sector_subchannel& sub, std::uint8_t selection, std::uint8_t* out);
