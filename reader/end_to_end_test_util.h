#pragma once

// The built vorka on a generated disc image: the fixture and helpers that the
// end-to-end tests share.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/disc_builder.h"

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;
using lines = std::vector<std::string>;

// Tracks 1, 2 and 4 are audio, track 3 a Mode 1 data track.
inline disc_spec four_track_disc() {
    disc_spec spec;
    spec.tracks = {{track_mode::audio, 100},
                   {track_mode::audio, 150},
                   {track_mode::mode1_2352, 50},
                   {track_mode::audio, 75}};
    return spec;
}

inline bytes swap_words(bytes data) {
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        std::swap(data[i], data[i + 1]);
    }
    return data;
}

template <std::size_t n>
bytes as_bytes(const std::array<std::uint8_t, n>& header) {
    return {header.begin(), header.end()};
}

inline bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class vorka_on_image : public ::testing::Test {
  protected:
    temp_dir home;
    temp_dir work;
    built_disc disc;

    void SetUp() override {
        const char* source = std::getenv("VORKA_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        fs::copy_file(fs::path(source) / "config" / "vorkarc", home / ".vorkarc");
        fs::create_directory(work / "image");
        disc = build_disc(work / "image", four_track_disc());
    }

    // Replaces the shipped configuration by one entry for the image drive.
    void use_entry(const std::string& fields) {
        write_file(home / ".vorkarc", "\"VORKA\" \"CD IMAGE\" \"\" " + fields + "\n");
    }

    run_result vorka(std::vector<std::string> args, std::vector<std::string> env = {}) const {
        args.insert(args.begin(), {program_path("vorka"), "-d", disc.cue.string()});
        env.push_back("HOME=" + home.path().string());
        return run_program(args, env);
    }

    std::string out(const std::string& name) const { return (work / name).string(); }

    // The raw sectors of the image as the drive delivers them.
    bytes sectors(std::uint32_t first, std::uint32_t end) const {
        bytes data((end - first) * 2352);
        for (std::uint32_t s = first; s < end; ++s) {
            expected_raw_sector(disc, s, data.data() + (s - first) * 2352);
        }
        return data;
    }
    bytes track(int number) const {
        return sectors(disc.starts[number - 1], number < static_cast<int>(disc.starts.size())
                                                    ? disc.starts[number]
                                                    : disc.leadout);
    }
};

inline const std::string listing_header =
    "\n"
    " track   playing  start    end     raw size  mp3 size   # of   track\n"
    " number   time    sector  sector   in bytes  128 kbps  frames  type\n"
    "---------------------------------------------------------------------\n";
inline const std::string separator =
    "---------------------------------------------------------------------\n";
inline const std::string row1 =
    "    1    0:01'25       0      99     235200     22168      52  audio\n";
inline const std::string row2 =
    "    2    0:02'00     100     249     352800     32835      77  audio\n";
inline const std::string row3 =
    "    3          -     250     299     117600         -       -  data\n";
inline const std::string row4 =
    "    4    0:01'00     300     374     176400     16835      39  audio\n";
inline const std::string wipe = std::string(62, ' ') + "\n";

// "be 04 00 00 01 2c 00 00 1a 10 00 00" and so on, one per chunk.
inline lines audio_reads(const std::string& form, std::uint32_t first, std::uint32_t end) {
    lines reads;
    for (std::uint32_t at = first; at < end; at += 26) {
        const std::uint32_t n = std::min<std::uint32_t>(26, end - at);
        char cdb[64];
        if (form == "be") {
            std::snprintf(cdb, sizeof cdb, "be 04 00 00 %02x %02x 00 00 %02x 10 00 00", at >> 8,
                          at & 0xff, n);
        } else if (form == "d8") {
            std::snprintf(cdb, sizeof cdb, "d8 00 00 00 %02x %02x 00 00 00 %02x 00 00", at >> 8,
                          at & 0xff, n);
        } else {
            std::snprintf(cdb, sizeof cdb, "%s 00 00 00 %02x %02x 00 00 %02x 00", form.c_str(),
                          at >> 8, at & 0xff, n);
        }
        reads.push_back(std::string(cdb) + " | in " + std::to_string(n * 2352) + " | ok");
    }
    return reads;
}

inline lines operator+(lines a, const lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline lines split_lines(const std::string& text) {
    lines result;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        result.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return result;
}
