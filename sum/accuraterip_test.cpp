#include "sum/accuraterip.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sum/sum_test_util.h"
#include "sum/track_sums.h"

namespace {

std::vector<std::uint32_t> values_of(const std::string& audio) {
    std::vector<std::uint32_t> values(audio.size() / 4);
    frame_values(reinterpret_cast<const std::uint8_t*>(audio.data()), values.size(), values.data());
    return values;
}

struct sums {
    std::uint32_t v1;
    std::uint32_t v2;
};

sums sum_in_blocks(const std::vector<std::uint32_t>& frames, counted_positions counted,
                   std::size_t block) {
    accuraterip_sum sum(counted);
    for (std::size_t at = 0; at < frames.size(); at += block) {
        sum.add(frames.data() + at, std::min(block, frames.size() - at));
    }
    return {sum.v1(), sum.v2()};
}

}  // namespace

TEST(accuraterip_positions, leave_out_the_edges_of_the_disc) {
    const struct {
        std::uint64_t frames;
        bool first, last;
        std::uint64_t from, to;
    } cases[] = {
        {10000, false, false, 1, 10000}, {10000, true, false, 2940, 10000},
        {10000, false, true, 1, 7060},   {10000, true, true, 2940, 7060},
        {2000, false, true, 1, 0},  // shorter than the edge: nothing counts
    };
    for (const auto& c : cases) {
        const counted_positions p = accuraterip_positions(c.frames, c.first, c.last);
        EXPECT_EQ(p.first, c.from) << c.frames << c.first << c.last;
        EXPECT_EQ(p.last, c.to) << c.frames << c.first << c.last;
    }
}

TEST(accuraterip_sum, weighs_each_frame_with_its_position_and_keeps_the_high_halves_for_v2) {
    // Frame 0xffffffff at position 2 and 0x80000000 at position 3: the
    // products are 0x1fffffffe and 0x180000000.
    const std::vector<std::uint32_t> frames = {7, 0xffffffff, 0x80000000};
    accuraterip_sum sum({1, 3});
    sum.add(frames.data(), frames.size());
    EXPECT_EQ(sum.v1(), 7u + 0xfffffffeu + 0x80000000u);
    EXPECT_EQ(sum.v2(), 7u + 0xfffffffeu + 0x80000000u + 1u + 1u);
}

TEST(accuraterip_sum, known_values_of_the_test_pattern_disc) {
    // The test disc of tracks of 20, 30 and 25 sectors from sector 0, as
    // Debian's whipper 0.10.0 (its accuraterip module) sums them; the last
    // row is track 2 alone as a disc of one track.
    const struct {
        std::uint32_t first, count;
        bool first_track, last_track;
        std::uint32_t v1, v2;
    } cases[] = {
        {0, 20, true, false, 0xbd7caf91, 0xbf6b2098},
        {20, 30, false, false, 0xfea6b067, 0x0348f831},
        {50, 25, false, true, 0x99e054b1, 0x9bf011df},
        {20, 30, true, true, 0x6086da87, 0x639d5ff3},
    };
    for (const auto& c : cases) {
        const auto frames = values_of(pattern_audio(c.first, c.count));
        const counted_positions counted =
            accuraterip_positions(frames.size(), c.first_track, c.last_track);
        // Block sizes that cut the edges of the counted positions anywhere.
        for (std::size_t block : {frames.size(), std::size_t{1}, std::size_t{587},
                                  std::size_t{2940}, std::size_t{4096}}) {
            const sums s = sum_in_blocks(frames, counted, block);
            EXPECT_EQ(s.v1, c.v1) << "track at " << c.first << ", blocks of " << block;
            EXPECT_EQ(s.v2, c.v2) << "track at " << c.first << ", blocks of " << block;
        }
    }
}
