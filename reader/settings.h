#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "output/format.h"

// The reader's option-bound settings with their built-in defaults.  One
// instance per run; the parser writes it, later steps read it.
struct reader_settings {
    std::string track_list = "1-100";
    std::string output_name = "track%02d.%s";  // replaced by its expansion at the start of the run
    const format_entry* selected_format = &output_formats[0];
    std::string device_path = "/dev/cd0c";
    bool device_given = false;       // -d was given; otherwise the system's CD drive may stand in
    std::int32_t start_sector = -1;  // -1: not given
    // -1: not given.  Widened to 64 bits so that the exclusive bound made
    // from the largest 32-bit sector number stays correct.
    std::int64_t end_sector = -1;
    std::int32_t kbps = 128;
    std::int32_t read_size = -1;  // 0 or less: the drive entry's value
    std::int32_t overlap = -1;    // -1: not given
    // Samples; the drive entry's value unless -O gives one.
    std::int32_t read_offset = 0;
    std::int32_t read_offset_given = 0;
    std::int32_t index_only = 0;
    std::int32_t reset_drive = 0;
    std::int32_t quiet = 0;
    std::int32_t verbosity = 0;
};

// True when every track goes to a file of its own, named by formatting the
// track number into the expanded output name.
inline bool writes_file_per_track(const reader_settings& settings,
                                  const std::string& expanded_name) {
    return settings.index_only == 0 && settings.start_sector < 0 &&
           expanded_name.find('%') != std::string::npos;
}

inline constexpr int max_selected_tracks = 100;

// Zero-based track indexes in the order given, or one sector range
// (count 1; recognised by start_sector being 0 or more).
struct track_selection {
    std::int32_t count = 0;
    std::array<std::int32_t, max_selected_tracks> indexes{};
};
