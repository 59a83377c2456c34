#include "scsi/extract.h"

#include <sys/time.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/write_all.h"

namespace {

constexpr std::int64_t microseconds_per_second = 1000000;
// Progress is looked at after this many sectors, and shown at most this often.
constexpr std::int64_t sectors_between_checks = 100;
constexpr std::int64_t microseconds_between_lines = 2000000;

// Seconds still to go if the rest goes as fast as what is done, rounded.
int remaining_seconds(std::int64_t elapsed_us, std::int64_t whole, std::int64_t done) {
    const std::int64_t remaining_us = elapsed_us * whole / done - elapsed_us;
    return static_cast<int>((remaining_us + microseconds_per_second / 2) / microseconds_per_second);
}

int chunk_sectors(int read_size, std::int64_t left) {
    const int size = std::clamp(read_size, 1, max_read_sectors);
    return static_cast<int>(std::min<std::int64_t>(size, left));
}

}  // namespace

std::int64_t now_us() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return static_cast<std::int64_t>(tv.tv_sec) * microseconds_per_second + tv.tv_usec;
}

void swap_sample_bytes(std::uint8_t* data, std::size_t bytes) {
    constexpr std::uint64_t low_bytes = 0x00ff00ff00ff00ffULL;
    std::size_t i = 0;
    for (; i + sizeof(std::uint64_t) <= bytes; i += sizeof(std::uint64_t)) {
        std::uint64_t words;
        std::memcpy(&words, data + i, sizeof words);
        words = (words & low_bytes) << 8 | (words >> 8 & low_bytes);
        std::memcpy(data + i, &words, sizeof words);
    }
    for (; i + 1 < bytes; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

std::string progress_line(const range_position& range, const transfer_progress& progress,
                          std::int64_t now, bool with_track_part) {
    char text[128];
    std::string line;
    if (with_track_part) {
        const std::int64_t whole = range.end - range.first;
        const std::int64_t done = range.current - range.first;
        const int seconds = remaining_seconds(now - range.start_us, whole, done);
        std::snprintf(text, sizeof text, "  track:%3d%% done,%2d:%02d to go,",
                      static_cast<int>(done * 100 / whole), seconds / 60, seconds % 60);
        line += text;
    }
    const std::int64_t planned = progress.planned_sectors;
    const std::int64_t transferred = progress.transferred_sectors;
    const int seconds = remaining_seconds(now - progress.run_start_us, planned, transferred);
    std::snprintf(text, sizeof text, "  total:%3d%% done,%3d:%02d to go\r",
                  static_cast<int>(transferred * 100 / planned), seconds / 60, seconds % 60);
    line += text;
    return line;
}

void extract_range(const extraction& run, std::int64_t first, std::int64_t end, int fd) {
    extract_range(run, first, end, [fd](const std::uint8_t* data, std::size_t bytes) {
        write_all(fd, data, bytes);
    });
}

void extract_range(const extraction& run, std::int64_t first, std::int64_t end,
                   const chunk_writer& write_chunk) {
    transfer_progress& progress = run.progress;
    const std::int64_t start_us = progress.clock();
    std::int64_t last_line_us = start_us;
    std::int64_t since_check = 0;
    std::uint8_t* buffer = run.device.transfer_buffer.data();
    for (std::int64_t current = first; current < end;) {
        const int count = chunk_sectors(run.read_size, end - current);
        const std::size_t bytes = static_cast<std::size_t>(count) * sector_bytes;
        std::uint8_t* chunk = buffer;
        if (run.correction != nullptr) {
            chunk = run.correction->read_chunk(run.device, run.mode, current, count);
        } else {
            scsi_send(run.device,
                      chunk_read_cdb(run.mode, static_cast<std::uint32_t>(current), count), bytes,
                      data_direction::in, message_kind::cdda_read);
        }
        if (run.mode.swap_samples) {
            swap_sample_bytes(chunk, bytes);
        }
        write_chunk(chunk, bytes);
        progress.transferred_sectors += count;
        if (run.verbosity != 0) {
            since_check += count;
            if (since_check >= sectors_between_checks) {
                since_check = 0;
                const std::int64_t now = progress.clock();
                if (now - last_line_us > microseconds_between_lines) {
                    const range_position range{first, end, current, start_us};
                    std::fputs(
                        progress_line(range, progress, now, run.selection_count >= 2).c_str(),
                        stderr);
                    last_line_us = now;
                }
            }
        }
        current += count;
    }
}
