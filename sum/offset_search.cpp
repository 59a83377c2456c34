#include "sum/offset_search.h"

#include <memory>

#include "sum/track_sums.h"

namespace {

constexpr int offset_count = 2 * max_read_offset + 1;

// A run of consecutive frames of the stream as checksum values.
bool read_values(audio_file& stream, std::int64_t first, std::size_t count,
                 std::vector<std::uint32_t>& values) {
    values.resize(count);
    auto* bytes = reinterpret_cast<std::uint8_t*>(values.data());
    if (!stream.read(first, count, bytes)) {
        return false;
    }
    frame_values(bytes, count, values.data());
    return true;
}

// What sliding one track over every offset gives.
struct track_slide {
    std::vector<std::uint32_t> v1;  // by offset + max_read_offset
    std::vector<bool> silent;       // no counted frame differs from zero
};

// The v1 sum, the plain sum and the count of non-zero frames of the counted
// window at the lowest offset, read block by block.
bool first_window(audio_file& stream, std::int64_t window_start, counted_positions counted,
                  std::uint32_t& v1, std::uint32_t& plain, std::uint64_t& nonzero) {
    const std::uint64_t length = counted.last - counted.first + 1;
    const auto block = std::make_unique_for_overwrite<std::uint32_t[]>(block_frames);
    auto* bytes = reinterpret_cast<std::uint8_t*>(block.get());
    v1 = plain = 0;
    nonzero = 0;
    for (std::uint64_t done = 0; done < length;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(block_frames, length - done));
        if (!stream.read(window_start + static_cast<std::int64_t>(done), count, bytes)) {
            return false;
        }
        frame_values(bytes, count, block.get());
        v1 +=
            weighted_sum(block.get(), count, static_cast<std::uint32_t>(counted.first + done)).low;
        for (std::size_t i = 0; i < count; ++i) {
            plain += block[i];
            nonzero += block[i] != 0 ? 1 : 0;
        }
        done += count;
    }
    return true;
}

bool slide_track(audio_file& stream, std::int64_t base, counted_positions counted,
                 track_slide& slide) {
    slide.v1.assign(offset_count, 0);
    slide.silent.assign(offset_count, true);
    if (counted.last < counted.first) {
        return true;  // nothing counts: every sum is 0
    }
    const auto a = static_cast<std::int64_t>(counted.first);
    const auto b = static_cast<std::int64_t>(counted.last);
    // Position m of the track at offset o is frame base + o + m - 1.
    const std::int64_t lowest = base - max_read_offset;
    std::uint32_t v1 = 0;
    std::uint32_t plain = 0;
    std::uint64_t nonzero = 0;
    if (!first_window(stream, lowest + a - 1, counted, v1, plain, nonzero)) {
        return false;
    }
    // From o to o + 1 the frame at position a leaves and the one after
    // position b comes in; every other frame moves down one position, which
    // takes the plain sum off once.
    std::vector<std::uint32_t> leaving;
    std::vector<std::uint32_t> entering;
    if (!read_values(stream, lowest + a - 1, offset_count - 1, leaving) ||
        !read_values(stream, lowest + b, offset_count - 1, entering)) {
        return false;
    }
    const auto weight_out = static_cast<std::uint32_t>(a);
    const auto weight_in = static_cast<std::uint32_t>(b + 1);
    for (int k = 0;; ++k) {
        slide.v1[k] = v1;
        slide.silent[k] = nonzero == 0;
        if (k == offset_count - 1) {
            break;
        }
        plain = plain - leaving[k] + entering[k];
        v1 = v1 - weight_out * leaving[k] + weight_in * entering[k] - plain;
        nonzero = nonzero - (leaving[k] != 0 ? 1 : 0) + (entering[k] != 0 ? 1 : 0);
    }
    return true;
}

// The v2 sum of the track at one offset, computed in full.
bool v2_at(audio_file& stream, std::int64_t first, std::uint64_t frames, counted_positions counted,
           std::uint32_t& v2) {
    const auto block = std::make_unique_for_overwrite<std::uint32_t[]>(block_frames);
    auto* bytes = reinterpret_cast<std::uint8_t*>(block.get());
    accuraterip_sum sum(counted);
    for (std::uint64_t done = 0; done < frames;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(block_frames, frames - done));
        if (!stream.read(first + static_cast<std::int64_t>(done), count, bytes)) {
            return false;
        }
        frame_values(bytes, count, block.get());
        sum.add(block.get(), count);
        done += count;
    }
    v2 = sum.v2();
    return true;
}

}  // namespace

bool find_offsets(audio_file& stream, const disc_layout& layout,
                  const std::vector<ar_block>& blocks, std::vector<offset_hit>& hits) {
    std::vector<offset_hit> by_offset(offset_count);
    track_slide slide;
    for (int track = layout.first_audio; track <= layout.last_audio(); ++track) {
        const auto base = static_cast<std::int64_t>(layout.first_sector(track) -
                                                    layout.first_sector(layout.first_audio)) *
                          frames_per_sector;
        const std::uint64_t frames = layout.frames(track);
        const int position = layout.audio_position(track);
        const counted_positions counted =
            accuraterip_positions(frames, position == 1, position == layout.audio_tracks);
        if (!slide_track(stream, base, counted, slide)) {
            return false;
        }
        for (int k = 0; k < offset_count; ++k) {
            if (!stores_checksum(blocks, position, slide.v1[k])) {
                continue;
            }
            ++by_offset[k].v1_tracks;
            std::uint32_t v2 = 0;  // the sum of a silent window
            if (!slide.silent[k] &&
                !v2_at(stream, base + k - max_read_offset, frames, counted, v2)) {
                return false;
            }
            if (stores_checksum(blocks, position, v2)) {
                ++by_offset[k].v2_tracks;
            }
        }
    }
    hits.clear();
    for (int k = 0; k < offset_count; ++k) {
        if (by_offset[k].v1_tracks > 0) {
            by_offset[k].offset = k - max_read_offset;
            hits.push_back(by_offset[k]);
        }
    }
    return true;
}
