#pragma once

#include <cstdint>
#include <string>

#include "reader/settings.h"

// Turns the settings into the selection: the tracks of the track list, or,
// when -s and -e are both given, the one sector range (end_sector then
// becomes the exclusive bound).  Every error is reported and ends the run.
void make_track_selection(reader_settings& settings, track_selection& selection);

// Reads a track list such as "-3,5,8-10,12-" into the selection.
void parse_track_list(const std::string& track_list, track_selection& selection);

// Appends the indexes of the track numbers first to last (1-based).
void append_track_range(track_selection& selection, std::int64_t first, std::int64_t last);
