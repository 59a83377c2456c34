#pragma once

#include <cstddef>
#include <cstdint>

// AccurateRip checksums of one track.  A stereo frame counts as one 32-bit
// value, the left sample in the low half and the right in the high half (the
// four bytes of CD-DA order read as a little-endian number).  The frame at
// position m of the track (counting from 1) adds m times its value: v1 keeps
// the low 32 bits of each product, v2 adds the high 32 bits as well.  Both
// sums wrap at 32 bits.
//
// Drives read the edges of a disc least reliably, so the first track leaves
// out its first five sectors less one frame (positions below 2940) and the
// last track its last five sectors (positions above length - 2940).

inline constexpr std::uint32_t frames_per_sector = 588;
inline constexpr std::uint32_t edge_frames = 5 * frames_per_sector;  // 2940

// The positions of a track that count, from first to last, both included;
// empty when last < first.
struct counted_positions {
    std::uint64_t first = 1;
    std::uint64_t last = 0;
};

counted_positions accuraterip_positions(std::uint64_t track_frames, bool first_track,
                                        bool last_track);

// The sums of a track, fed with its frames in order in blocks of any size.
class accuraterip_sum {
  public:
    explicit accuraterip_sum(counted_positions counted) : counted_(counted) {}

    void add(const std::uint32_t* frames, std::size_t count);

    std::uint32_t v1() const { return low_; }
    std::uint32_t v2() const { return low_ + high_; }

  private:
    counted_positions counted_;
    std::uint64_t seen_ = 0;  // frames added so far
    std::uint32_t low_ = 0;
    std::uint32_t high_ = 0;
};

// Low and high 32-bit halves of sum(frames[i] * (multiplier + i)).
struct weighted_halves {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};
weighted_halves weighted_sum(const std::uint32_t* frames, std::size_t count,
                             std::uint32_t multiplier);
