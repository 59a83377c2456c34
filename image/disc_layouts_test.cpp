// One disc in every gap layout that rippers write, in BIN, WAVE, AIFF and
// FLAC files: the same table of contents and the same audio in every sector.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/disc_image.h"
#include "image/gap_layouts_test_util.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

struct disc_read {
    std::vector<std::uint32_t> starts;
    std::uint32_t leadout = 0;
    bytes audio;
};

disc_read read_disc(const fs::path& cue) {
    std::string error;
    const auto image = disc_image::open(cue.string(), error);
    EXPECT_NE(image, nullptr) << error;
    disc_read read;
    if (image == nullptr) {
        return read;
    }
    for (const image_track& track : image->tracks()) {
        read.starts.push_back(track.start);
    }
    read.leadout = image->leadout();
    read.audio.resize(std::size_t{read.leadout} * raw_sector_bytes);
    EXPECT_TRUE(image->read_raw(0, read.leadout, read.audio.data()));
    return read;
}

bytes expected_audio(const built_disc& disc) {
    bytes audio(std::size_t{disc.leadout} * raw_sector_bytes);
    for (std::uint32_t lba = 0; lba < disc.leadout; ++lba) {
        expected_raw_sector(disc, lba, audio.data() + std::size_t{lba} * raw_sector_bytes);
    }
    return audio;
}

TEST(disc_layouts, every_gap_layout_in_every_file_format_gives_the_same_disc) {
    temp_dir reference_dir;
    const built_disc reference = build_disc(
        reference_dir.path(), gap_layout_disc(gap_place::one_file, image_file_format::bin));
    ASSERT_EQ(reference.starts, layout_starts);
    ASSERT_EQ(reference.leadout, layout_leadout);
    const bytes audio = expected_audio(reference);
    const std::pair<gap_place, const char*> places[] = {
        {gap_place::one_file, "one file"},
        {gap_place::own_file, "each gap at the start of its track's file"},
        {gap_place::previous_file, "each gap at the end of the previous track's file"},
        {gap_place::pregap, "gaps left out of the files"},
        {gap_place::pregap_one_file, "one file, gaps left out"},
    };
    const struct {
        image_file_format format;
        bool flac;
        flac_naming naming;
        const char* name;
    } formats[] = {
        {image_file_format::bin, false, {}, "BIN"},
        {image_file_format::wav, false, {}, "WAVE"},
        {image_file_format::aiff, false, {}, "AIFF"},
        {image_file_format::wav, true, flac_naming::wave_type, "FLAC as WAVE"},
        {image_file_format::wav, true, flac_naming::flac_type, "FLAC as FLAC"},
        {image_file_format::wav, true, flac_naming::wav_names, "FLAC named .wav"},
    };
    for (const auto& [place, place_name] : places) {
        for (const auto& format : formats) {
            SCOPED_TRACE(std::string(place_name) + ", " + format.name);
            temp_dir dir;
            const built_disc disc = build_disc(dir.path(), gap_layout_disc(place, format.format));
            if (format.flac) {
                compress_to_flac(disc, format.naming);
            }
            const disc_read read = read_disc(disc.cue);
            EXPECT_EQ(read.starts, layout_starts);
            EXPECT_EQ(read.leadout, layout_leadout);
            EXPECT_TRUE(read.audio == audio);
        }
    }
}

// Where the hidden audio before track 1 is kept in a file, it is on the disc
// before track 1's start, readable like any other sector.
TEST(disc_layouts, hidden_audio_before_track_one_is_readable) {
    for (const gap_place place : {gap_place::one_file, gap_place::previous_file}) {
        temp_dir dir;
        disc_spec spec = gap_layout_disc(place, image_file_format::wav);
        spec.silent_gaps = false;
        const built_disc disc = build_disc(dir.path(), spec);
        const disc_read read = read_disc(disc.cue);
        EXPECT_EQ(read.starts, layout_starts);
        const bytes audio = expected_audio(disc);
        ASSERT_EQ(read.audio.size(), audio.size());
        EXPECT_TRUE(
            std::equal(audio.begin(), audio.begin() + 200 * raw_sector_bytes, read.audio.begin()));
        EXPECT_NE(std::count(audio.begin(), audio.begin() + 200 * raw_sector_bytes, 0), 200 * 2352);
    }
}

// Sheets as rippers write them for these files: CRLF, Windows paths in
// another letter case, the metadata lines of a rip log's sheet.
TEST(disc_layouts, sheets_written_by_rippers_read_like_plain_ones) {
    const std::string head =
        "REM GENRE \"Chamber Music\"\r\nREM DATE 1999\r\nREM DISCID 9A0B4F0C\r\n"
        "REM COMMENT \"a ripper, version 1.6\"\r\nCATALOG 0724384260910\r\n"
        "PERFORMER \"Some Ensemble\"\r\nTITLE \"Some Album\"\r\n";
    const std::string meta1 =
        "    TITLE \"One\"\r\n    PERFORMER \"Some Ensemble\"\r\n"
        "    ISRC GBAYE9900001\r\n";
    const std::string meta2 = "    TITLE \"Two\"\r\n    FLAGS DCP\r\n    ISRC GBAYE9900002\r\n";
    const std::string meta3 = "    TITLE \"Three\"\r\n    ISRC GBAYE9900003\r\n";
    struct row {
        const char* what;
        gap_place place;
        const char* cue_at;  // the files are in "album"
        std::string cue;
    };
    const row rows[] = {
        {"one file", gap_place::one_file, "album/Album.cue",
         head + "FILE \"C:\\Rips\\Some Album\\DISC-01.WAV\" WAVE\r\n  TRACK 01 AUDIO\r\n" + meta1 +
             "    INDEX 00 00:00:00\r\n    INDEX 01 00:02:50\r\n  TRACK 02 AUDIO\r\n" + meta2 +
             "    INDEX 00 00:06:50\r\n    INDEX 01 00:07:50\r\n  TRACK 03 AUDIO\r\n" + meta3 +
             "    INDEX 00 00:11:50\r\n    INDEX 01 00:13:50\r\n"},
        {"gaps appended to the previous track, hidden audio in a file of its own",
         gap_place::previous_file, "Album.cue",
         head + "FILE \"Album\\disc-01.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n" + meta1 +
             "    INDEX 00 00:00:00\r\nFILE \"Album\\disc-02.wav\" WAVE\r\n"
             "    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n" +
             meta2 +
             "    INDEX 00 00:04:00\r\nFILE \"Album\\disc-03.wav\" WAVE\r\n"
             "    INDEX 01 00:00:00\r\n  TRACK 03 AUDIO\r\n" +
             meta3 +
             "    INDEX 00 00:04:00\r\nFILE \"Album\\disc-04.wav\" WAVE\r\n"
             "    INDEX 01 00:00:00\r\n"},
        {"each gap at the start of its own track's file", gap_place::own_file, "album/Album.cue",
         head + "FILE \"Disc-01.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n" + meta1 +
             "    INDEX 00 00:00:00\r\n    INDEX 01 00:02:50\r\nFILE \"Disc-02.wav\" WAVE\r\n"
             "  TRACK 02 AUDIO\r\n" +
             meta2 +
             "    INDEX 00 00:00:00\r\n    INDEX 01 00:01:00\r\nFILE \"Disc-03.wav\" WAVE\r\n"
             "  TRACK 03 AUDIO\r\n" +
             meta3 + "    INDEX 00 00:00:00\r\n    INDEX 01 00:02:00\r\n"},
        {"gaps left out", gap_place::pregap, "album/Album.cue",
         head + "FILE \"disc-01.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n" + meta1 +
             "    PREGAP 00:02:50\r\n    INDEX 01 00:00:00\r\nFILE \"disc-02.wav\" WAVE\r\n"
             "  TRACK 02 AUDIO\r\n" +
             meta2 +
             "    PREGAP 00:01:00\r\n    INDEX 01 00:00:00\r\nFILE \"disc-03.wav\" WAVE\r\n"
             "  TRACK 03 AUDIO\r\n" +
             meta3 + "    PREGAP 00:02:00\r\n    INDEX 01 00:00:00\r\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        temp_dir dir;
        fs::create_directory(dir / "album");
        const built_disc disc =
            build_disc(dir / "album", gap_layout_disc(r.place, image_file_format::wav));
        const disc_read plain = read_disc(disc.cue);
        write_file(dir / r.cue_at, r.cue);
        const disc_read written = read_disc(dir / r.cue_at);
        EXPECT_EQ(written.starts, plain.starts);
        EXPECT_EQ(written.leadout, plain.leadout);
        EXPECT_TRUE(written.audio == plain.audio);
    }
}

}  // namespace
