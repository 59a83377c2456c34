#pragma once

#include <vector>

#include "sum/ar_database.h"
#include "sum/audio_file.h"
#include "sum/disc_layout.h"

// The read offsets tried: five sectors either way.
inline constexpr int max_read_offset = 2940;

// An offset at which the stream matches the entry: how many tracks have a
// stored v1 checksum there, and how many of those have their v2 sum stored
// too.  Offset +N: the disc's audio sits N frames later in the stream than
// where the table of contents puts it.
struct offset_hit {
    int offset = 0;
    int v1_tracks = 0;
    int v2_tracks = 0;
};

// Slides every audio track of the whole-disc stream (frame 0 is the start
// of track 1) over every offset from -max_read_offset to +max_read_offset,
// in one pass over the stream: the v1 sum at offset o + 1 follows from the
// sum at o.  Found offsets are checked with v2, computed in full.  Frames
// beyond the stream count as silence.  Returns the offsets with at least one
// matching track, in ascending order; false after a read failure (printed).
bool find_offsets(audio_file& stream, const disc_layout& layout,
                  const std::vector<ar_block>& blocks, std::vector<offset_hit>& hits);
