#pragma once

// One disc in the gap layouts rippers write, for the tests that check that
// every layout gives the same disc.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/disc_builder.h"

// Hidden audio before track 1 (200 sectors: track 1 starts at 200), pregaps
// of 75 and 150 sectors before tracks 2 and 3, and a last file that ends
// inside its last sector.  Gaps are silent, as they must be for a layout
// that leaves them out of the files.
inline constexpr std::uint32_t layout_gaps[] = {200, 75, 150};
inline constexpr std::uint32_t layout_bodies[] = {300, 300, 250};
inline const std::vector<std::uint32_t> layout_starts = {200, 575, 1025};
inline constexpr std::uint32_t layout_leadout = 1275;

enum class gap_place {
    one_file,         // INDEX 00 and 01 in one file for the disc
    own_file,         // one file per track, its gap at the file's start
    previous_file,    // one file per track, each gap at the end of the previous one
    pregap,           // one file per track, gaps left out (PREGAP)
    pregap_one_file,  // one file for the disc, gaps left out
};

inline disc_spec gap_layout_disc(gap_place place, image_file_format format) {
    disc_spec spec;
    spec.format = format;
    spec.silent_gaps = true;
    const bool generated = place == gap_place::pregap || place == gap_place::pregap_one_file;
    for (std::size_t t = 0; t < 3; ++t) {
        track_spec track;
        track.sectors = layout_bodies[t];
        (generated ? track.pregap : track.index0) = layout_gaps[t];
        track.new_file = place != gap_place::one_file && place != gap_place::pregap_one_file;
        track.gap_in_previous_file = place == gap_place::previous_file;
        track.cut_bytes = t == 2 ? 1000 : 0;
        spec.tracks.push_back(track);
    }
    return spec;
}

// How a sheet names the FLAC files its WAV files were compressed to.
enum class flac_naming {
    wave_type,  // FILE "disc-01.flac" WAVE, as most rippers write it
    flac_type,  // FILE "disc-01.flac" FLAC
    wav_names,  // the sheet still names the .wav files, which are gone
};

// Compresses the disc's WAV files with the flac program, as people compress
// their archives, removes the WAV files and names the FLAC files in the sheet.
inline void compress_to_flac(const built_disc& disc, flac_naming naming) {
    for (const std::filesystem::path& wav : disc.files) {
        const run_result r = run_program(
            {"/usr/bin/env", "flac", "--silent", "--force", "--delete-input-file", wav.string()});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    if (naming == flac_naming::wav_names) {
        return;
    }
    std::string cue = read_file(disc.cue);
    const std::string from = ".wav\" WAVE";
    const std::string to = naming == flac_naming::flac_type ? ".flac\" FLAC" : ".flac\" WAVE";
    for (std::size_t at = cue.find(from); at != std::string::npos; at = cue.find(from, at)) {
        cue.replace(at, from.size(), to);
    }
    write_file(disc.cue, cue);
}
