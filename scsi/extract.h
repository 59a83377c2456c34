#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "scsi/channel.h"
#include "scsi/offset_correction.h"
#include "scsi/read_mode.h"

// Microseconds of the wall clock.
std::int64_t now_us();

// The run's totals, kept across every range it reads.
struct transfer_progress {
    std::int64_t planned_sectors = 0;
    std::int64_t transferred_sectors = 0;
    std::int64_t run_start_us = 0;
    // Where times come from; tests put a clock of their own here.
    std::function<std::int64_t()> clock = now_us;
};

// Everything one range's extraction reads besides the range itself.
struct extraction {
    scsi_device& device;
    const read_mode_state& mode;
    transfer_progress& progress;
    int read_size;        // sectors per read, 1 to 26
    int verbosity;        // 1 or more: progress lines
    int selection_count;  // 2 or more: the progress line has a part for the track
    // Audio of a drive with a read offset: the correction that reads it.
    offset_correction* correction = nullptr;
};

// Exchanges the two bytes of every 16-bit word, in place.
void swap_sample_bytes(std::uint8_t* data, std::size_t bytes);

// Where the current range stands when a progress line is due: its first
// sector, its end, the first sector of the chunk just written and the time
// the range began.
struct range_position {
    std::int64_t first;
    std::int64_t end;
    std::int64_t current;
    std::int64_t start_us;
};

// The progress line, ended by a carriage return so that the next overwrites it.
std::string progress_line(const range_position& range, const transfer_progress& progress,
                          std::int64_t now, bool with_track_part);

// Where each chunk goes: written to a descriptor, or handed to an encoder.
using chunk_writer = std::function<void(const std::uint8_t* data, std::size_t bytes)>;

// Reads the sectors from first up to end in chunks of at most read_size
// sectors and hands each chunk whole to the writer.  Every failure ends the
// run with its message; what was written before stays.
void extract_range(const extraction& run, std::int64_t first, std::int64_t end,
                   const chunk_writer& write_chunk);

// The same, each chunk written whole to the descriptor.
void extract_range(const extraction& run, std::int64_t first, std::int64_t end, int fd);
