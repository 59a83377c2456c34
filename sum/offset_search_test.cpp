#include "sum/offset_search.h"

#include <gtest/gtest.h>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "sum/sum_test_util.h"
#include "sum/track_sums.h"

namespace {

// Tracks of 12, 13 and 15 sectors: long enough for the edge rules.
const track_table table = make_table({0, 12, 25}, 40);

std::vector<std::uint32_t> values_of(const std::string& audio) {
    std::vector<std::uint32_t> values(audio.size() / 4);
    frame_values(reinterpret_cast<const std::uint8_t*>(audio.data()), values.size(), values.data());
    return values;
}

// The sums of a track taken from the frames at offset o: the track's
// frame i is frames[base + o + i], silence outside.
track_sums sums_at(const std::vector<std::uint32_t>& frames, const disc_layout& layout, int track,
                   int offset) {
    const auto base = static_cast<std::int64_t>(layout.first_sector(track)) * 588;
    std::vector<std::uint32_t> shifted(layout.frames(track));
    for (std::size_t i = 0; i < shifted.size(); ++i) {
        const std::int64_t at = base + offset + static_cast<std::int64_t>(i);
        shifted[i] = at >= 0 && at < static_cast<std::int64_t>(frames.size()) ? frames[at] : 0;
    }
    accuraterip_sum sum(
        accuraterip_positions(shifted.size(), track == 1, track == layout.audio_tracks));
    sum.add(shifted.data(), shifted.size());
    return {0, sum.v1(), sum.v2()};
}

std::vector<ar_block> blocks_of(const disc_layout& layout, const std::string& bytes) {
    std::vector<ar_block> blocks;
    std::string error;
    EXPECT_TRUE(parse_ar_entry({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                               accuraterip_disc_ids(layout), blocks, error))
        << error;
    return blocks;
}

// A v1 block and a v2 block with the sums of each track at its offset.
std::string entry_for(const std::vector<std::uint32_t>& frames, const disc_layout& layout,
                      const std::vector<int>& offsets, bool with_v2 = true) {
    std::vector<test_ar_track> v1;
    std::vector<test_ar_track> v2;
    for (int track = 1; track <= layout.audio_tracks; ++track) {
        const track_sums s = sums_at(frames, layout, track, offsets[track - 1]);
        v1.push_back({10, s.v1});
        v2.push_back({7, s.v2});
    }
    const accuraterip_ids ids = accuraterip_disc_ids(layout);
    return ar_block_bytes(ids, v1) + (with_v2 ? ar_block_bytes(ids, v2) : "");
}

std::vector<offset_hit> search(const std::string& stream_audio, const disc_layout& layout,
                               const std::string& entry) {
    temp_dir dir;
    write_file(dir / "disc.wav", as_format("wav", stream_audio));
    const auto stream = audio_file::open(dir / "disc.wav", std::nullopt);
    EXPECT_NE(stream, nullptr);
    std::vector<offset_hit> hits;
    EXPECT_TRUE(find_offsets(*stream, layout, blocks_of(layout, entry), hits));
    return hits;
}

// The stream a drive with this read offset delivers: every frame `offset`
// places later, silence where the disc gives nothing.
std::string shifted_stream(const std::string& audio, int offset) {
    const auto shift = static_cast<std::int64_t>(offset) * 4;
    std::string stream(audio.size(), '\0');
    for (std::int64_t at = 0; at < static_cast<std::int64_t>(audio.size()); ++at) {
        const std::int64_t from = at - shift;
        if (from >= 0 && from < static_cast<std::int64_t>(audio.size())) {
            stream[static_cast<std::size_t>(at)] = audio[static_cast<std::size_t>(from)];
        }
    }
    return stream;
}

}  // namespace

TEST(find_offsets, finds_the_read_offset_of_a_shifted_stream) {
    set_program_name("vorkasum");
    const disc_layout layout = layout_of(table);
    const std::string audio = pattern_audio(0, 40);
    const std::string entry = entry_for(values_of(audio), layout, {0, 0, 0});
    // -2940 itself loses the first counted frame of track 1 before the
    // start of the stream; +2940 still reaches the last counted frame.
    for (int offset : {-2939, -588, -1, 0, 6, 667, 2940}) {
        const auto hits = search(shifted_stream(audio, offset), layout, entry);
        ASSERT_EQ(hits.size(), 1u) << offset;
        EXPECT_EQ(hits[0].offset, offset);
        EXPECT_EQ(hits[0].v1_tracks, 3);
        EXPECT_EQ(hits[0].v2_tracks, 3);
    }
}

TEST(find_offsets, slides_each_track_to_every_offset) {
    // Each track's stored sums come from another offset, so the slide must
    // be right far out in both directions for the first, a middle and the
    // last track; a v1 block alone is found but not confirmed.
    const disc_layout layout = layout_of(table);
    const std::string audio = pattern_audio(0, 40);
    const auto frames = values_of(audio);
    const std::vector<int> offsets = {-2939, 1234, 2940};
    for (bool with_v2 : {true, false}) {
        const auto hits = search(audio, layout, entry_for(frames, layout, offsets, with_v2));
        ASSERT_EQ(hits.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(hits[i].offset, offsets[i]);
            EXPECT_EQ(hits[i].v1_tracks, 1);
            EXPECT_EQ(hits[i].v2_tracks, with_v2 ? 1 : 0);
        }
    }
}

TEST(find_offsets, a_v2_sum_that_differs_does_not_confirm) {
    const disc_layout layout = layout_of(table);
    const std::string audio = pattern_audio(0, 40);
    const auto frames = values_of(audio);
    const accuraterip_ids ids = accuraterip_disc_ids(layout);
    std::vector<test_ar_track> v1;
    std::vector<test_ar_track> v2;
    for (int track = 1; track <= 3; ++track) {
        const track_sums s = sums_at(frames, layout, track, 0);
        v1.push_back({3, s.v1});
        v2.push_back({3, track == 2 ? s.v2 + 1 : s.v2});
    }
    const auto hits = search(audio, layout, ar_block_bytes(ids, v1) + ar_block_bytes(ids, v2));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].v1_tracks, 3);
    EXPECT_EQ(hits[0].v2_tracks, 2);
}

TEST(find_offsets, silence_matches_at_every_offset) {
    const disc_layout layout = layout_of(table);
    const std::string silence(40 * 2352, '\0');
    const accuraterip_ids ids = accuraterip_disc_ids(layout);
    const auto hits = search(silence, layout, ar_block_bytes(ids, {{1, 0}, {1, 0}, {1, 0}}));
    ASSERT_EQ(hits.size(), 2u * max_read_offset + 1);
    EXPECT_EQ(hits.front().offset, -max_read_offset);
    EXPECT_EQ(hits.back().offset, max_read_offset);
    for (const offset_hit& hit : hits) {
        EXPECT_EQ(hit.v1_tracks, 3);
        EXPECT_EQ(hit.v2_tracks, 3);
    }
}
