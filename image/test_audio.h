#pragma once

// The content of generated test discs: every sample and every data byte is
// a known function of the sector's address, so a test can tell what any
// read must return, and a sector read from the wrong address shows.

#include <cstdint>
#include <cstring>

inline constexpr std::uint32_t test_frames_per_sector = 588;

inline std::int16_t test_sample(std::uint32_t lba, std::uint32_t frame, std::uint32_t channel) {
    std::uint32_t x = (lba * test_frames_per_sector + frame) * 2 + channel;
    x ^= x >> 15;
    x *= 0x2c1b3c6dU;
    x ^= x >> 12;
    return static_cast<std::int16_t>(x & 0xffff);
}

// One CD-DA sector as a drive delivers it: little-endian, left then right.
inline void fill_test_audio(std::uint32_t lba, std::uint8_t* sector) {
    for (std::uint32_t frame = 0; frame < test_frames_per_sector; ++frame) {
        for (std::uint32_t channel = 0; channel < 2; ++channel) {
            const auto value = static_cast<std::uint16_t>(test_sample(lba, frame, channel));
            std::uint8_t* at = sector + (frame * 2 + channel) * 2;
            at[0] = static_cast<std::uint8_t>(value);
            at[1] = static_cast<std::uint8_t>(value >> 8);
        }
    }
}

// The 2048 user data bytes of a data sector: its address, big-endian, then
// a pattern of the address.
inline void fill_test_user_data(std::uint32_t lba, std::uint8_t* data) {
    data[0] = static_cast<std::uint8_t>(lba >> 24);
    data[1] = static_cast<std::uint8_t>(lba >> 16);
    data[2] = static_cast<std::uint8_t>(lba >> 8);
    data[3] = static_cast<std::uint8_t>(lba);
    for (std::uint32_t i = 4; i < 2048; ++i) {
        data[i] = static_cast<std::uint8_t>(lba * 31 + i * 7);
    }
}
