#pragma once

#include <cstdint>

#include "sum/accuraterip.h"
#include "sum/audio_file.h"

struct track_sums {
    std::uint32_t crc32 = 0;  // of the audio in CD-DA byte order
    std::uint32_t v1 = 0;
    std::uint32_t v2 = 0;
};

// Frames per read: big enough that the system calls cost nothing, small
// enough to stay in the processor's cache between the read and the sums.
inline constexpr std::size_t block_frames = 256 * 1024;  // 1 MiB

// The sums of a whole file in one pass.  A read failure is printed and
// gives false.
bool sum_track(audio_file& file, counted_positions counted, track_sums& sums);

// The frames of a block as the 32-bit values the checksums weigh.
void frame_values(const std::uint8_t* bytes, std::size_t count, std::uint32_t* values);
