#pragma once

#include <cstddef>
#include <cstdint>

// Gains are fixed-point values on which this one is 100 %.
constexpr std::int32_t fade_unity_gain = 65536;

// Bytes of one sample frame: a signed 16-bit left sample, then the right one,
// each little-endian.
constexpr std::int64_t frame_bytes = 4;

// The file is rewritten through one buffer of this many frames (64 KiB),
// blocks counted from the fade's first frame.
constexpr std::int64_t fade_block_frames = 16384;

// Rewrites, in place, the frames from start_frame to end_frame (both
// included) of the open raw PCM file, scaling every sample by a gain that
// steps evenly from start_gain to end_gain (see gain_stepper): sample * gain /
// unity_gain, truncated toward zero.  Needs 0 <= start_frame < end_frame and
// end_frame inside the file; bytes outside the fade are never written and the
// file's length never changes.  A failed seek, read or write prints the
// failed-call message and ends the run; blocks written before it stay faded.
void fade_region(int fd, std::int32_t unity_gain, std::int64_t start_frame, std::int32_t start_gain,
                 std::int64_t end_frame, std::int32_t end_gain);
