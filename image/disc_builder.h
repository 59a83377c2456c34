#pragma once

// Builds test discs (a CUE sheet and its BIN files) in a folder, for tests,
// benchmarks and the demo.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/cue_sheet.h"

enum class audio_content { test_pattern, silence, music };

// What the FILEs of the disc are: BIN files, or audio files with a header
// (audio tracks only).
enum class image_file_format { bin, wav, aiff };

struct track_spec {
    track_mode mode = track_mode::audio;
    std::uint32_t sectors = 300;        // from INDEX 01 to the end of the track
    std::uint32_t index0 = 0;           // pregap stored in the file (INDEX 00)
    std::uint32_t pregap = 0;           // PREGAP: made up by the drive, not in the file
    std::uint32_t postgap = 0;          // POSTGAP
    bool new_file = false;              // the track starts a FILE of its own
    bool gap_in_previous_file = false;  // with new_file: INDEX 00 ends the previous FILE
                                        // (track 1: the hidden audio has a FILE of its own)
    bool motorola = false;              // that file holds big-endian audio
    bool pre_emphasis = false;          // FLAGS PRE
    std::uint32_t cut_bytes = 0;        // the file holding the track ends this much early
    bool new_session = false;           // REM SESSION: the track starts the next session
};

struct disc_spec {
    std::string name = "disc";
    std::vector<track_spec> tracks;
    audio_content audio = audio_content::test_pattern;
    image_file_format format = image_file_format::bin;
    bool silent_gaps = false;  // INDEX 00 audio is silence, as PREGAP sectors are
};

// How each sector of the built disc was made.
struct built_sector {
    track_mode mode = track_mode::audio;
    bool generated = false;  // PREGAP/POSTGAP, not in a file
    bool big_endian = false;
    bool silent = false;          // audio written as silence
    std::uint32_t cut_bytes = 0;  // bytes missing at the end of this sector's file data
    bool session_gap = false;     // between two sessions: no read reaches it
};

struct built_disc {
    std::filesystem::path cue;
    std::vector<std::filesystem::path> files;  // in the order of the FILE lines
    std::vector<std::uint32_t> starts;         // INDEX 01 of each track
    std::uint32_t leadout = 0;
    std::vector<std::uint32_t> session_leadouts;  // the last one is `leadout`
    std::vector<built_sector> sectors;
};

// Writes <folder>/<name>.cue and its files (<name>-NN.bin, .wav or .aiff); throws
// std::runtime_error when a file cannot be written.
built_disc build_disc(const std::filesystem::path& folder, const disc_spec& spec);

// The 2352 bytes a raw read of the sector returns (audio in CD-DA order,
// data with sync and header, EDC/ECC zero) for a test-pattern disc.
void expected_raw_sector(const built_disc& disc, std::uint32_t lba, std::uint8_t* out);
// The 2048 user bytes of a data sector.
void expected_user_data(const built_disc& disc, std::uint32_t lba, std::uint8_t* out);

// "audio:300,pregap=150,index0=75,postgap=75,file,appended,motorola,pre,cut=100,session"
// ("appended": INDEX 00 in the previous file);
// modes audio, mode1 (MODE1/2352), mode1/2048, mode2 (MODE2/2352).
bool parse_track_spec(const std::string& text, track_spec& track, std::string& error);
