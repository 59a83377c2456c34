#include "sum/track_sums.h"

#include <bit>
#include <cstring>
#include <memory>

#include "sum/crc32.h"

void frame_values(const std::uint8_t* bytes, std::size_t count, std::uint32_t* values) {
    if constexpr (std::endian::native == std::endian::little) {
        if (static_cast<const void*>(bytes) != static_cast<const void*>(values)) {
            std::memcpy(values, bytes, count * frame_bytes);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = bytes + i * frame_bytes;
            values[i] = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                        static_cast<std::uint32_t>(p[2]) << 16 |
                        static_cast<std::uint32_t>(p[3]) << 24;
        }
    }
}

bool sum_track(audio_file& file, counted_positions counted, track_sums& sums) {
    // The values are read in place on a little-endian machine.
    const auto block = std::make_unique_for_overwrite<std::uint32_t[]>(block_frames);
    auto* const bytes = reinterpret_cast<std::uint8_t*>(block.get());
    accuraterip_sum accuraterip(counted);
    std::uint32_t crc = 0;
    const std::uint64_t total = file.frames();
    for (std::uint64_t done = 0; done < total;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(block_frames, total - done));
        if (!file.read(static_cast<std::int64_t>(done), count, bytes)) {
            return false;
        }
        crc = crc32_extend(crc, bytes, count * frame_bytes);
        frame_values(bytes, count, block.get());
        accuraterip.add(block.get(), count);
        done += count;
    }
    sums = {crc, accuraterip.v1(), accuraterip.v2()};
    return true;
}
