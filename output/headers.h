#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The file headers that stand in front of the audio.  Each describes CD audio
// (44100 frames per second, 2 channels, 16-bit samples) for a payload of the
// given size; every size field holds the low 32 bits of its value.  The
// header is written once, from the planned size, and never patched, so the
// writers work on pipes and terminals too.

inline constexpr std::size_t aiff_header_size = 54;
inline constexpr std::size_t wav_header_size = 44;
inline constexpr std::size_t au_header_size = 28;

std::array<std::uint8_t, aiff_header_size> make_aiff_header(std::uint64_t payload_bytes);
std::array<std::uint8_t, wav_header_size> make_wav_header(std::uint64_t payload_bytes);
std::array<std::uint8_t, au_header_size> make_au_header(std::uint64_t payload_bytes);

// The header writers of the format table.  A failed write is reported
// ("write()") and ends the run with status 1.
void write_no_header(std::uint64_t payload_bytes, int fd);
void write_aiff_header(std::uint64_t payload_bytes, int fd);
void write_wav_header(std::uint64_t payload_bytes, int fd);
void write_au_header(std::uint64_t payload_bytes, int fd);
