#include "sum/accuraterip.h"

#include <algorithm>

counted_positions accuraterip_positions(std::uint64_t track_frames, bool first_track,
                                        bool last_track) {
    counted_positions counted{1, track_frames};
    if (first_track) {
        counted.first = edge_frames;
    }
    if (last_track) {
        counted.last = track_frames >= edge_frames ? track_frames - edge_frames : 0;
    }
    return counted;
}

namespace {

// Compiled for AVX2 too and chosen at run time: the loop is the hot spot of
// the checksum run, and the vector form is several times faster.  Kept
// inside this file: clang 14 gives a cloned function no symbol that other
// files can link against.
__attribute__((target_clones("avx2", "default"))) weighted_halves weighted_sum_cloned(
    const std::uint32_t* frames, std::size_t count, std::uint32_t multiplier) {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t product =
            static_cast<std::uint64_t>(frames[i]) * static_cast<std::uint32_t>(multiplier + i);
        low += static_cast<std::uint32_t>(product);
        high += static_cast<std::uint32_t>(product >> 32);
    }
    return {low, high};
}

}  // namespace

weighted_halves weighted_sum(const std::uint32_t* frames, std::size_t count,
                             std::uint32_t multiplier) {
    return weighted_sum_cloned(frames, count, multiplier);
}

void accuraterip_sum::add(const std::uint32_t* frames, std::size_t count) {
    // Positions seen_ + 1 .. seen_ + count; only those inside counted_ add.
    const std::uint64_t block_first = seen_ + 1;
    const std::uint64_t block_last = seen_ + count;
    seen_ += count;
    const std::uint64_t from = std::max(block_first, counted_.first);
    const std::uint64_t to = std::min(block_last, counted_.last);
    if (count == 0 || from > to) {
        return;
    }
    const weighted_halves part = weighted_sum(frames + (from - block_first), to - from + 1,
                                              static_cast<std::uint32_t>(from));
    low_ += part.low;
    high_ += part.high;
}
