#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The longest disc an image may describe: READ TOC gives addresses as signed
// 32-bit numbers.
inline constexpr std::uint32_t max_disc_sectors = 0x7fffffff;

enum class track_mode { audio, mode1_2048, mode1_2352, mode2_2352 };

// Bytes one sector of the mode takes in its BIN file.
std::uint32_t file_sector_bytes(track_mode mode);

// BINARY and MOTOROLA are raw sectors (MOTOROLA audio most significant byte
// first); the others are audio files, read by what they hold.
enum class cue_file_type { binary, motorola, wave, aiff, flac };

struct cue_file {
    std::string path;    // resolved against the cue sheet's folder
    std::string name;    // as the cue sheet gives it, for messages
    std::string folder;  // the cue sheet's folder, where the file is looked for
    std::string given;   // the name as the cue sheet gives it, unquoted
    cue_file_type type = cue_file_type::binary;
    int line = 0;
};

// A stretch of one file that belongs to one track, from `frame` (in
// sectors of the track's mode, counted from the file's start) to the next
// region of the same file or the file's end.
struct cue_region {
    int file = 0;
    std::uint32_t frame = 0;
    int track = 0;  // index into cue_sheet::tracks
};

// The CD-Text a cue sheet gives for the disc or for one track.
struct cd_text_fields {
    std::string title;
    std::string performer;
    std::string songwriter;
};

struct cue_track {
    int number = 0;
    track_mode mode = track_mode::audio;
    bool pre_emphasis = false;
    std::uint32_t pregap = 0;          // generated sectors before the track's first index
    std::uint32_t postgap = 0;         // generated sectors after the track
    int index01_region = -1;           // the region INDEX 01 lies in ...
    std::uint32_t index01_offset = 0;  // ... and how many sectors into it
    int session = 1;                   // REM SESSION nn before the track
    std::string isrc;                  // 12 characters, or empty
    cd_text_fields text;
    int line = 0;
};

// The cue sheet in the order the disc is laid out: regions of files and
// generated gaps interleave as `layout` lists them.
struct cue_layout_item {
    enum class kind { region, gap } what = kind::region;
    int region = 0;             // for a region
    int track = 0;              // for a gap: whose mode the sectors have
    std::uint32_t sectors = 0;  // for a gap
};

// Where an INDEX line put its mark, for the check against the file's size.
struct cue_index_mark {
    int line = 0;
    int number = 0;
    std::string time;
    int region = 0;
    std::uint32_t offset = 0;  // sectors into the region
};

struct cue_sheet {
    std::string catalog;  // the media catalog number, 13 digits, or empty
    cd_text_fields text;  // of the disc
    std::vector<cue_index_mark> indexes;
    std::vector<cue_file> files;
    std::vector<cue_track> tracks;
    std::vector<cue_region> regions;
    std::vector<cue_layout_item> layout;
};

struct cue_parse_result {
    cue_sheet sheet;
    std::string error;  // "<cue path> line <n>: <problem>", empty on success
};

// Reads the text of a cue sheet; `cue_path` names it in messages and gives
// the folder that file names are relative to.
cue_parse_result parse_cue_sheet(std::string_view text, const std::string& cue_path);
