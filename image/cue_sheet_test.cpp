#include "image/cue_sheet.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "common/common_test_util.h"
#include "image/disc_image.h"

namespace {

namespace fs = std::filesystem;

struct bin_file {
    const char* name;
    std::uintmax_t bytes;
};

struct toc_case {
    const char* what;
    std::vector<bin_file> bins;
    std::string cue;
    std::vector<std::uint32_t> starts;
    std::uint32_t leadout;
    std::vector<track_mode> modes = {};
};

// Sparse files of the given sizes stand in for the BIN files.
std::unique_ptr<disc_image> open_image(const temp_dir& dir, const std::vector<bin_file>& bins,
                                       const std::string& cue, std::string& error) {
    for (const bin_file& bin : bins) {
        const fs::path path = dir / bin.name;
        fs::create_directories(path.parent_path());
        write_file(path, "");
        fs::resize_file(path, bin.bytes);
    }
    write_file(dir / "disc.cue", cue);
    return disc_image::open((dir / "disc.cue").string(), error);
}

TEST(cue_sheet, lays_out_sheets_as_users_write_them) {
    const toc_case cases[] = {
        {"one BIN, three tracks",
         {{"a.bin", 235200000}},
         "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 00 03:00:00\n    INDEX 01 03:02:00\n"
         "  TRACK 03 AUDIO\n    INDEX 01 10:00:00\n",
         {0, 13650, 45000},
         100000},
        {"mixed mode with PREGAP",
         {{"m.bin", 50000 * 2352}},
         "FILE \"m.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
         "TRACK 02 AUDIO\nPREGAP 00:02:00\nINDEX 01 04:40:00\n",
         {0, 21150},
         50150,
         {track_mode::mode1_2352, track_mode::audio}},
        {"two FILEs, INDEX times relative to each",
         {{"t1.bin", 15000 * 2352}, {"t2.bin", 20000 * 2352}},
         "FILE \"t1.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
         "FILE \"t2.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:02:00\n",
         {0, 15150},
         35000},
        {"hidden audio before track 1",
         {{"h.bin", 3000 * 2352}},
         "FILE h.bin BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:30:00\n",
         {2250},
         3000},
        {"lower case, CRLF, BOM, tabs, ignored commands, unquoted and single-quoted names",
         {{"sub/x y.bin", 1000 * 2352}, {"z.bin", 500 * 2048}},
         "\xef\xbb\xbfREM GENRE Rock\r\ncatalog 0000000000000\r\ntitle \"A Disc\"\r\n"
         "performer 'Someone'\r\nfile 'sub/x y.bin' binary\r\n\ttrack 1 audio\r\n"
         "\t\tisrc ABCDE1234567\r\n\t\tsongwriter \"Me\"\r\n\t\tflags dcp pre\r\n"
         "\t\tindex 01 00:00:00  \r\nFile z.bin Binary\r\nTrack 02 mode1/2048\r\n"
         "Index 01 00:00:00\r\n",
         {0, 1000},
         1500,
         {track_mode::audio, track_mode::mode1_2048}},
        {"gaps appended: FILE between INDEX 00 and INDEX 01",
         {{"g1.bin", 1000 * 2352}, {"g2.bin", 800 * 2352}},
         "FILE \"g1.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
         "INDEX 00 00:12:00\nFILE \"g2.bin\" BINARY\nINDEX 01 00:00:00\n",
         {0, 1000},
         1800},
        {"mixed sector sizes in one file, POSTGAP",
         {{"mix.bin", 100 * 2048 + 300 * 2352}},
         "FILE mix.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\nPOSTGAP 00:01:00\n"
         "TRACK 02 AUDIO\nINDEX 01 00:01:25\n",
         {0, 175},
         475},
        {"MODE2 and a BIN ending inside a sector",
         {{"p.bin", 10 * 2352 + 1000}},
         "FILE p.bin MOTOROLA\nTRACK 05 MODE2/2352\nINDEX 01 00:00:00\nTRACK 06 AUDIO\n"
         "INDEX 01 00:00:05\n",
         {0, 5},
         11,
         {track_mode::mode2_2352, track_mode::audio}},
        {"an enhanced CD: the data session 11400 sectors after the audio session's lead-out",
         {{"e.bin", 2000 * 2352}},
         "FILE e.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
         "INDEX 01 00:10:00\nREM SESSION 02\nTRACK 03 MODE1/2352\nINDEX 01 00:20:00\n",
         {0, 750, 12900},
         13400},
        {"sessions named from the first, the pregap of session 2 kept in the file",
         {{"f.bin", 2000 * 2352}},
         "rem session 01\nFILE f.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
         "Rem Session 02\nTRACK 02 MODE2/2352\nINDEX 00 00:20:00\nINDEX 01 00:22:00\n",
         {0, 12900},
         13250,
         {track_mode::audio, track_mode::mode2_2352}},
    };
    for (const toc_case& c : cases) {
        SCOPED_TRACE(c.what);
        temp_dir dir;
        std::string error;
        const auto image = open_image(dir, c.bins, c.cue, error);
        ASSERT_NE(image, nullptr) << error;
        std::vector<std::uint32_t> starts;
        for (const image_track& t : image->tracks()) {
            starts.push_back(t.start);
        }
        EXPECT_EQ(starts, c.starts);
        EXPECT_EQ(image->leadout(), c.leadout);
        EXPECT_EQ(image->sessions().back().leadout, c.leadout);
        for (std::size_t i = 0; i < c.modes.size(); ++i) {
            EXPECT_EQ(image->tracks()[i].mode, c.modes[i]);
        }
    }
}

TEST(cue_sheet, flags_pre_and_track_numbers) {
    const cue_parse_result r = parse_cue_sheet(
        "FILE a.bin BINARY\nTRACK 03 AUDIO\nFLAGS PRE\nINDEX 01 00:00:00\n"
        "TRACK 04 AUDIO\nINDEX 01 00:10:00\n",
        "/x/disc.cue");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.sheet.tracks[0].number, 3);
    EXPECT_TRUE(r.sheet.tracks[0].pre_emphasis);
    EXPECT_FALSE(r.sheet.tracks[1].pre_emphasis);
    EXPECT_EQ(r.sheet.files[0].path, "/x/a.bin");
}

TEST(cue_sheet, broken_sheets_name_file_line_and_problem) {
    struct row {
        std::string cue;
        std::string error;
    };
    const std::string head = "FILE a.bin BINARY\nTRACK 01 AUDIO\n";
    const row rows[] = {
        {"TRACK 01 AUDIO\n", "d.cue line 1: TRACK before the first FILE"},
        {"INDEX 01 00:00:00\n", "d.cue line 1: INDEX before the first TRACK"},
        {"FILE a.mp3 MP3\n",
         "d.cue line 1: file type \"MP3\" is not supported (BINARY, MOTOROLA, WAVE, AIFF or "
         "FLAC)"},
        {"FILE a.bin BINARY\nTRACK 01 CDG\n",
         "d.cue line 2: track mode \"CDG\" is not supported (AUDIO, MODE1/2048, MODE1/2352 or "
         "MODE2/2352)"},
        {head + "INDEX 01 00:60:00\n",
         "d.cue line 3: bad time \"00:60:00\" (seconds below 60, frames below 75)"},
        {head + "INDEX 01 0:0\n", "d.cue line 3: bad time \"0:0\" (expected mm:ss:ff)"},
        {head + "INDEX 02 00:00:00\n", "d.cue line 3: the first INDEX of a track must be 00 or 01"},
        {head + "INDEX 00 00:00:00\nINDEX 02 00:01:00\n", "d.cue line 4: INDEX 2 out of sequence"},
        {head + "INDEX 01 00:00:00\nFLAGS PRE\n", "d.cue line 4: FLAGS after INDEX"},
        {head + "INDEX 01 00:00:00\nPREGAP 00:02:00\n", "d.cue line 4: PREGAP after INDEX"},
        {head + "INDEX 01 00:00:00\nTRACK 03 AUDIO\n",
         "d.cue line 4: track 3 does not follow track 1"},
        {head + "INDEX 00 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n",
         "d.cue line 2: track 1 has no INDEX 01"},
        {head + "INDEX 01 00:05:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n",
         "d.cue line 5: INDEX lies before the previous INDEX of the same file"},
        {head + "INDEX 01 00:00:00\nFROB 1\n", "d.cue line 4: unknown command \"FROB\""},
        {"FILE \"a.bin BINARY\n", "d.cue line 1: missing closing quote"},
        {"REM nothing\n", "d.cue: no TRACK in the cue sheet"},
        {head + "FLAGS XYZ\n", "d.cue line 3: unknown flag \"XYZ\""},
        {"REM SESSION 02\n" + head, "d.cue line 1: session 2 out of sequence (expected 1)"},
        {head + "INDEX 01 00:00:00\nREM SESSION 03\n",
         "d.cue line 4: session 3 out of sequence (expected 2)"},
        {head + "INDEX 01 00:00:00\nREM SESSION 02\nREM SESSION 02\n",
         "d.cue line 5: REM SESSION twice before a TRACK"},
        {head + "INDEX 01 00:00:00\nREM SESSION 02\n",
         "d.cue line 4: REM SESSION without a TRACK after it"},
        {head + "INDEX 01 00:00:00\nREM SESSION two\n", "d.cue line 4: bad session number \"two\""},
    };
    for (const row& r : rows) {
        EXPECT_EQ(parse_cue_sheet(r.cue, "d.cue").error, r.error) << r.cue;
    }
}

TEST(cue_sheet, index_beyond_the_end_of_its_file_is_refused) {
    temp_dir dir;
    std::string error;
    const auto image = open_image(dir, {{"short.bin", 100 * 2352}},
                                  "FILE short.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                  "TRACK 02 AUDIO\nINDEX 01 00:01:25\n",
                                  error);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(error, (dir / "disc.cue").string() +
                         " line 5: INDEX 01 at 00:01:25 lies beyond the end of \"short.bin\" "
                         "(235200 bytes)");
}

// Whatever the sheet or its files hold, opening ends quickly with one
// message that names the sheet, the line and the problem.
TEST(cue_sheet, hostile_images_are_refused_with_a_clear_message) {
    struct row {
        const char* what;
        std::string cue;
        std::string error;  // after "<cue path>"
        std::function<void(const temp_dir&)> setup = [](const temp_dir&) {};
    };
    const std::string track = "TRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    const auto sector_file = [](const temp_dir& dir) {
        write_file(dir / "one.bin", std::string(2352, 'x'));
    };
    const row rows[] = {
        {"a BIN of 0 bytes", "FILE empty.bin BINARY\n" + track,
         " line 3: INDEX 01 at 00:00:00 lies beyond the end of \"empty.bin\" (0 bytes)",
         [](const temp_dir& dir) { write_file(dir / "empty.bin", ""); }},
        {"a FILE that is a folder", "FILE dir.bin BINARY\n" + track,
         " line 1: \"dir.bin\" is not a regular file",
         [](const temp_dir& dir) { fs::create_directory(dir / "dir.bin"); }},
        {"a FILE that is a FIFO", "FILE fifo.bin BINARY\n" + track,
         " line 1: \"fifo.bin\" is not a regular file",
         [](const temp_dir& dir) { ASSERT_EQ(::mkfifo((dir / "fifo.bin").c_str(), 0600), 0); }},
        {"an INDEX time beyond any disc",
         "FILE one.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 99999999:00:00\n",
         " line 3: bad time \"99999999:00:00\" (longer than any disc)", sector_file},
        {"minutes that wrap around 32 bits",
         "FILE one.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 954437:10:46\n",
         " line 3: bad time \"954437:10:46\" (longer than any disc)", sector_file},
        {"gaps that make the disc too long",
         "FILE one.bin BINARY\nTRACK 01 AUDIO\nPREGAP 477218:00:00\nINDEX 01 00:00:00\n"
         "POSTGAP 00:40:00\n",
         " line 2: the disc would be longer than 2147483647 sectors", sector_file},
        {"a BIN given in place of the cue sheet", "",
         ": too large for a cue sheet (67108864 bytes)",
         [](const temp_dir& dir) { fs::resize_file(dir / "disc.cue", 64 << 20); }},
        {"an empty cue sheet", "", ": no TRACK in the cue sheet"},
        {"a second session whose pregap is longer than the gap before it",
         "FILE one.bin BINARY\n" + track +
             "REM SESSION 02\nTRACK 02 AUDIO\nPREGAP 03:00:00\n"
             "INDEX 01 00:00:01\n",
         " line 5: track 2 has 13500 sectors before its INDEX 01, more than the 11400 between "
         "sessions",
         [](const temp_dir& dir) { write_file(dir / "one.bin", std::string(2 * 2352, 'x')); }},
        {"control characters in the sheet", "FILE one.bin BINARY\n\x01\x7f\x1b[2J\n",
         " line 2: unknown command \"\\x01\\x7f\\x1b[2J\"", sector_file},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        temp_dir dir;
        write_file(dir / "disc.cue", r.cue);
        r.setup(dir);
        std::string error;
        EXPECT_EQ(disc_image::open((dir / "disc.cue").string(), error), nullptr);
        EXPECT_EQ(error, (dir / "disc.cue").string() + r.error);
    }
}

TEST(cue_sheet, missing_bin_names_the_line_and_the_file) {
    temp_dir dir;
    std::string error;
    const auto image = open_image(
        dir, {}, "REM x\nFILE \"gone.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", error);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(error, (dir / "disc.cue").string() + " line 2: cannot find \"gone.bin\": looked in " +
                         dir.path().string() +
                         " for \"gone.bin\" in any letter case, then for \"gone.flac\", "
                         "\"gone.wav\", \"gone.aiff\"");
}

// What the disc carries besides its layout: the catalog number and ISRCs
// as a disc can hold them (others are left out, as before), the CD-Text of
// the disc and of each track.
TEST(cue_sheet, keeps_catalog_isrcs_and_cd_text) {
    const cue_parse_result parsed = parse_cue_sheet(
        "catalog 1234567890123\nTITLE \"Disc\"\nPERFORMER 'The Band'\nFILE a.bin BINARY\n"
        "TRACK 01 AUDIO\n  TITLE One\n  ISRC usabc9912345\n  INDEX 01 00:00:00\n"
        "TRACK 02 AUDIO\n  ISRC US-ABC-99-12346\n  SONGWRITER \"S. Writer\"\n"
        "  INDEX 01 01:00:00\nTRACK 03 AUDIO\n  ISRC USABC991234\n  INDEX 01 02:00:00\n"
        "TRACK 04 AUDIO\n  ISRC USABC99123X5\n  INDEX 01 03:00:00\n",
        "disc.cue");
    ASSERT_EQ(parsed.error, "");
    const cue_sheet& sheet = parsed.sheet;
    EXPECT_EQ(sheet.catalog, "1234567890123");
    EXPECT_EQ(sheet.text.title, "Disc");
    EXPECT_EQ(sheet.text.performer, "The Band");
    EXPECT_EQ(sheet.tracks[0].text.title, "One");
    EXPECT_EQ(sheet.tracks[0].isrc, "USABC9912345");
    EXPECT_EQ(sheet.tracks[1].isrc, "USABC9912346");
    EXPECT_EQ(sheet.tracks[1].text.songwriter, "S. Writer");
    EXPECT_EQ(sheet.tracks[2].isrc, "");  // eleven characters
    EXPECT_EQ(sheet.tracks[3].isrc, "");  // a letter in the serial number
    for (const char* catalog :
         {"CATALOG 123456789012\n", "CATALOG 12345678901234\n", "CATALOG 123456789012X\n"}) {
        const cue_parse_result other = parse_cue_sheet(
            std::string(catalog) + "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",
            "disc.cue");
        EXPECT_EQ(other.error, "");
        EXPECT_EQ(other.sheet.catalog, "") << catalog;
    }
}

}  // namespace
