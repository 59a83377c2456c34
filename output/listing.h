#pragma once

#include <cstdint>

#include "scsi/track_kind.h"

// The track listing on standard error: a header, one row per track or for
// the sector range, and a totals row fed by two running sums.

// The sums behind the totals row; the run owns one and never resets it.
struct listing_sums {
    std::int64_t listed_audio_sectors = 0;    // sectors of every audio row printed
    std::int64_t listed_playing_sectors = 0;  // sectors of every audio or video row printed
};

// Row kinds other than a track row (whose number is 1 or more).
inline constexpr int listing_range_row = -1;
inline constexpr int listing_totals_row = -2;

// What the caller prints before a range row, and before a totals row.
inline constexpr const char* listing_range_prefix = "    -  ";
inline constexpr const char* listing_separator =
    "---------------------------------------------------------------------\n";
inline constexpr const char* listing_totals_prefix = " total ";

// The empty line, the two title lines (with the bit rate) and the separator.
void print_listing_header(int kbps);

// One row from the track number (track rows) or the playing time (range and
// totals rows) to the end of the line.  start and end are sectors, end
// exclusive; a totals row passes 0 and the planned total with kind 1 and the
// number of selected tracks as track_count.  Track and range rows add to the
// sums.
void print_listing_row(listing_sums& sums, int kbps, int track_number, int track_count,
                       std::int64_t start, std::int64_t end, int kind);
