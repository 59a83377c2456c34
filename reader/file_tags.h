#pragma once

#include <string>
#include <vector>

#include "scsi/toc.h"

// The tags ("NAME=value") of an encoded format's files, from what the run
// knows of the disc; nothing is made up.

// Every file's: the disc's MusicBrainz ID and its AccurateRip disc ID line,
// as vorkasum prints them.  A disc that has no such IDs (no audio track, or
// a data track between audio tracks) gets none.
std::vector<std::string> disc_tags(const track_table& table);

// A track's own file: its number and the disc's audio tracks, then the
// disc's tags.
std::vector<std::string> track_file_tags(const track_table& table, int track_number,
                                         const std::vector<std::string>& disc);
