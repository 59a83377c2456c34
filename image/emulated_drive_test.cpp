#include "image/emulated_drive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "image/disc_builder.h"
#include "image/test_audio.h"
#include "scsi/channel.h"
#include "scsi/passthrough/sense.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct answer {
    scsi_outcome outcome;
    bytes data;
};

answer send(passthrough& drive, const bytes& cdb, data_direction direction, std::size_t length,
            const bytes& out = {}) {
    answer a;
    a.data = out.empty() ? bytes(length, 0xee) : out;
    scsi_request request;
    request.cdb = cdb;
    request.direction = direction;
    request.data = a.data;
    a.outcome = drive.send(request);
    return a;
}

answer send(passthrough& drive, const cdb_bytes& cdb, std::size_t length) {
    return send(drive, bytes(cdb.bytes.begin(), cdb.bytes.begin() + cdb.length), data_direction::in,
                length);
}

// Key, ASC and ASCQ of a CHECK CONDITION, or -1 for any other outcome.
std::array<int, 3> sense_of(const scsi_outcome& outcome) {
    if (outcome.what != scsi_outcome::kind::status_error || outcome.sense_length < 14) {
        return {-1, -1, -1};
    }
    return {outcome.sense[2] & 0x0f, outcome.sense[12], outcome.sense[13]};
}

bool completed(const answer& a) {
    return a.outcome.what == scsi_outcome::kind::completed;
}

class emulated_drive_test : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("VORKA_IMAGE_MEDIUM_ERRORS");
        disc_spec spec;
        spec.tracks = {
            {.mode = track_mode::audio, .sectors = 300, .pre_emphasis = true},
            {.mode = track_mode::audio, .sectors = 200, .pregap = 150},
            {.mode = track_mode::mode1_2352, .sectors = 60, .new_file = true},
            {.mode = track_mode::mode1_2048, .sectors = 50, .pregap = 20, .new_file = true},
            {.mode = track_mode::mode2_2352, .sectors = 40, .postgap = 10, .new_file = true},
            {.mode = track_mode::audio,
             .sectors = 120,
             .index0 = 30,
             .new_file = true,
             .motorola = true},
            {.mode = track_mode::audio, .sectors = 77, .new_file = true, .cut_bytes = 1001},
        };
        disc = build_disc(dir.path(), spec);
        passthrough_open_result opened = open_emulated_drive(disc.cue.string());
        ASSERT_NE(opened.device, nullptr) << opened.error;
        drive = std::move(opened.device);
    }

    bytes expected_raw(std::uint32_t lba, std::uint32_t count) {
        bytes out(std::size_t{count} * 2352);
        for (std::uint32_t i = 0; i < count; ++i) {
            expected_raw_sector(disc, lba + i, out.data() + std::size_t{i} * 2352);
        }
        return out;
    }

    void select_block_length(std::uint8_t density, std::uint32_t length,
                             std::array<int, 3> expected = {-1, -1, -1}) {
        const bytes list{0,
                         0,
                         0,
                         8,
                         density,
                         0,
                         0,
                         0,
                         0,
                         0,
                         static_cast<std::uint8_t>(length >> 8),
                         static_cast<std::uint8_t>(length)};
        const answer a = send(*drive, {0x15, 0x10, 0, 0, 0x0c, 0}, data_direction::out, 12, list);
        EXPECT_EQ(sense_of(a.outcome), expected);
    }

    temp_dir dir;
    built_disc disc;
    std::unique_ptr<passthrough> drive;
};

TEST_F(emulated_drive_test, identifies_itself) {
    const answer a = send(*drive, inquiry_cdb(), 64);
    ASSERT_TRUE(completed(a));
    EXPECT_EQ(a.data[0], 0x05);
    EXPECT_EQ(std::string(a.data.begin() + 8, a.data.begin() + 36), "VORKA   CD IMAGE        1.0 ");
    EXPECT_EQ(a.data[40], 0);  // nothing stale beyond the answer
    EXPECT_TRUE(completed(send(*drive, test_unit_ready_cdb(), 0)));
}

TEST_F(emulated_drive_test, table_of_contents) {
    ASSERT_EQ(disc.starts, (std::vector<std::uint32_t>{0, 450, 650, 730, 780, 860, 980}));
    ASSERT_EQ(disc.leadout, 1057u);
    const answer a = send(*drive, read_toc_cdb(), 2048);
    ASSERT_TRUE(completed(a));
    const bytes header{0x00, 0x42, 1, 7};
    EXPECT_EQ(bytes(a.data.begin(), a.data.begin() + 4), header);
    const std::uint8_t controls[] = {0x11, 0x10, 0x14, 0x14, 0x14, 0x10, 0x10, 0x10};
    const std::uint8_t numbers[] = {1, 2, 3, 4, 5, 6, 7, 0xaa};
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t* d = a.data.data() + 4 + i * 8;
        const std::uint32_t lba = i < 7 ? disc.starts[i] : disc.leadout;
        EXPECT_EQ(d[1], controls[i]) << i;
        EXPECT_EQ(d[2], numbers[i]) << i;
        EXPECT_EQ(std::uint32_t(d[4] << 24 | d[5] << 16 | d[6] << 8 | d[7]), lba) << i;
    }
}

TEST_F(emulated_drive_test, every_read_command_returns_the_image_bytes) {
    const std::uint32_t audio_runs[][2] = {{0, 26},   {290, 26},  {300, 150}, {440, 26},
                                           {860, 26}, {1030, 27}, {1056, 1}};
    for (const auto& [lba, count] : audio_runs) {
        SCOPED_TRACE(lba);
        const bytes expected = expected_raw(lba, count);
        const std::size_t length = expected.size();
        EXPECT_EQ(send(*drive, read_cd_cdb(lba, static_cast<int>(count)), length).data, expected);
        EXPECT_EQ(send(*drive, read12_d8_cdb(lba, static_cast<int>(count)), length).data, expected);
        EXPECT_EQ(send(*drive, read10_cdb(0xd4, lba, static_cast<int>(count)), length).data,
                  expected);
    }
    // With 2352-byte blocks READ(10) gives raw sectors of any kind.
    select_block_length(0x00, 2352);
    for (std::uint32_t lba = 0; lba < disc.leadout; lba += 13) {
        const std::uint32_t count = std::min<std::uint32_t>(26, disc.leadout - lba);
        ASSERT_EQ(send(*drive, read10_cdb(0x28, lba, static_cast<int>(count)), count * 2352).data,
                  expected_raw(lba, count))
            << lba;
    }
    // READ CD for any sector type with every field: raw data sectors too.
    EXPECT_EQ(send(*drive, bytes{0xbe, 0, 0, 0, 0x02, 0x8a, 0, 0, 3, 0xf8, 0, 0},
                   data_direction::in, 3 * 2352)
                  .data,
              expected_raw(650, 3));
}

TEST_F(emulated_drive_test, data_sectors_with_2048_byte_blocks) {
    for (std::uint32_t lba : {650u, 700u, 709u, 710u, 730u, 779u, 780u, 819u, 820u}) {
        SCOPED_TRACE(lba);
        bytes expected(2 * 2048);
        expected_user_data(disc, lba, expected.data());
        expected_user_data(disc, lba + 1, expected.data() + 2048);
        const answer a = send(*drive, read10_cdb(0x28, lba, 2), 2 * 2048);
        ASSERT_TRUE(completed(a));
        EXPECT_EQ(a.data, expected);
    }
}

TEST_F(emulated_drive_test, mode_select_and_mode_sense) {
    const auto sense = [&] { return send(*drive, mode_sense6_cdb(), 12).data; };
    EXPECT_EQ(sense(), (bytes{11, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0x00}));
    select_block_length(0x82, 2352);
    EXPECT_EQ(sense(), (bytes{11, 0, 0, 8, 0x82, 0, 0, 0, 0, 0, 0x09, 0x30}));
    select_block_length(0x00, 2340, {5, 0x26, 0});
    EXPECT_EQ(sense(), (bytes{11, 0, 0, 8, 0x82, 0, 0, 0, 0, 0, 0x09, 0x30}));
}

TEST_F(emulated_drive_test, errors_answer_with_sense_as_a_drive_does) {
    struct row {
        const char* what;
        bytes cdb;
        std::size_t length;
        std::array<int, 3> sense;
    };
    const row rows[] = {
        {"past the lead-out",
         {0xbe, 0x04, 0, 0, 0x04, 0x20, 0, 0, 2, 0x10, 0, 0},
         2 * 2352,
         {5, 0x21, 0}},
        {"beyond 24 bits", {0xd8, 0, 0x01, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2352, {5, 0x21, 0}},
        {"unknown opcode", {0xa8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2048, {5, 0x20, 0}},
        {"audio read of a data sector",
         {0xbe, 0x04, 0, 0, 0x02, 0x8a, 0, 0, 1, 0x10, 0, 0},
         2352,
         {5, 0x64, 0}},
        {"run from audio into data",
         {0xd4, 0, 0, 0, 0x02, 0x80, 0, 0, 20, 0},
         20 * 2352,
         {5, 0x64, 0}},
        {"2048-byte read of audio", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048, {5, 0x64, 0}},
        {"TOC in another format", {0x43, 0, 0x03, 0, 0, 0, 1, 8, 0, 0}, 2048, {5, 0x24, 0}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const answer a = send(*drive, r.cdb, data_direction::in, r.length);
        EXPECT_EQ(sense_of(a.outcome), r.sense);
        EXPECT_EQ(a.outcome.sense_length, 18u);
        EXPECT_EQ(a.outcome.sense[0] & 0x7f, 0x70);
    }
    // A buffer that does not match the sectors asked for is a failed transfer.
    EXPECT_EQ(send(*drive, read_cd_cdb(0, 2), 2352).outcome.what, scsi_outcome::kind::failed);
}

// What a drive says to commands that are cut short, ask for what it does not
// have, or move data the wrong way; none of it may read or write beyond the
// CDB and the buffer it was given.
TEST_F(emulated_drive_test, malformed_commands_are_refused) {
    struct row {
        const char* what;
        bytes cdb;
        data_direction direction;
        std::size_t length;
        std::array<int, 3> sense;  // -1: a failed transfer
    };
    const row rows[] = {
        {"INQUIRY cut short", {0x12}, data_direction::in, 64, {5, 0x24, 0}},
        {"INQUIRY for a vital product data page the drive does not have",
         {0x12, 1, 0xc0, 0, 64, 0},
         data_direction::in,
         64,
         {5, 0x24, 0}},
        {"MODE SENSE cut short", {0x1a, 0}, data_direction::in, 12, {5, 0x24, 0}},
        {"READ TOC cut short", {0x43, 0, 0, 0, 0, 0, 1}, data_direction::in, 2048, {5, 0x24, 0}},
        {"READ(10) cut short", {0x28, 0, 0, 0, 0}, data_direction::in, 2048, {5, 0x24, 0}},
        {"READ CD cut short",
         {0xbe, 4, 0, 0, 0, 0, 0, 0, 1},
         data_direction::in,
         2352,
         {5, 0x24, 0}},
        {"vendor read with sub-code",
         {0xd8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0},
         data_direction::in,
         2352,
         {5, 0x24, 0}},
        {"INQUIRY with data going out",
         {0x12, 0, 0, 0, 64, 0},
         data_direction::out,
         64,
         {-1, -1, -1}},
        {"read with data going out",
         {0xbe, 4, 0, 0, 0, 0, 0, 0, 1, 0x10, 0, 0},
         data_direction::out,
         2352,
         {-1, -1, -1}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const bytes out(r.length, 0xee);
        const answer a = send(*drive, r.cdb, r.direction, r.length,
                              r.direction == data_direction::out ? out : bytes{});
        EXPECT_EQ(sense_of(a.outcome), r.sense);
        if (r.sense[0] < 0) {
            EXPECT_EQ(a.outcome.what, scsi_outcome::kind::failed);
            EXPECT_EQ(a.data, out);
        }
    }
}

TEST_F(emulated_drive_test, listed_sectors_answer_medium_error) {
    ::setenv("VORKA_IMAGE_MEDIUM_ERRORS", "5,100-102", 1);
    passthrough_open_result opened = open_emulated_drive(disc.cue.string());
    ::unsetenv("VORKA_IMAGE_MEDIUM_ERRORS");
    ASSERT_NE(opened.device, nullptr) << opened.error;
    passthrough& bad = *opened.device;
    EXPECT_EQ(sense_of(send(bad, read_cd_cdb(0, 26), 26 * 2352).outcome),
              (std::array<int, 3>{3, 0x11, 0}));
    const scsi_outcome at_101 = send(bad, read_cd_cdb(101, 1), 2352).outcome;
    EXPECT_EQ(sense_of(at_101), (std::array<int, 3>{3, 0x11, 0}));
    EXPECT_EQ(at_101.sense[0], 0xf0);  // the information field holds the address
    EXPECT_EQ(at_101.sense[6], 101);
    EXPECT_TRUE(completed(send(bad, read_cd_cdb(6, 94), 94 * 2352)));
    EXPECT_TRUE(completed(send(bad, read_cd_cdb(103, 26), 26 * 2352)));
}

// A BIN that becomes shorter while it is read (rewritten by another
// program, a download started again): the sectors it has lost are sectors
// the drive cannot read, not silence.  Only the bytes a file lacked when the
// image was opened read as zeros.
TEST_F(emulated_drive_test, sectors_a_bin_lost_after_opening_are_unrecovered_read_errors) {
    const struct {
        const char* file;
        std::uintmax_t cut;  // bytes taken off its end
        std::uint32_t last_whole, first_lost;
        bool user_data;  // read as 2048-byte blocks, else as raw 2352-byte ones
    } cases[] = {
        {"disc-01.bin", 1176, 648, 649, false},          // audio, half a sector
        {"disc-02.bin", 2000, 708, 709, true},           // MODE1/2352, user data only
        {"disc-03.bin", 2 * 2048 - 10, 777, 778, true},  // MODE1/2048
        {"disc-03.bin", 0, 777, 778, false},             // the same, as raw sectors
        {"disc-06.bin", 1, 1055, 1056, false},  // ended inside its last sector, now earlier
    };
    const std::array<int, 3> medium_error{3, 0x11, 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " less " + std::to_string(c.cut));
        const std::filesystem::path bin = dir / c.file;
        std::filesystem::resize_file(bin, std::filesystem::file_size(bin) - c.cut);
        const std::uint32_t block = c.user_data ? 2048 : 2352;
        select_block_length(0x00, block);
        const auto read = [&](std::uint32_t lba, int count) {
            return send(*drive, read10_cdb(0x28, lba, count), count * block).outcome;
        };
        EXPECT_EQ(read(c.last_whole, 1).what, scsi_outcome::kind::completed);
        EXPECT_EQ(sense_of(read(c.first_lost, 1)), medium_error);
        EXPECT_EQ(sense_of(read(c.last_whole, 2)), medium_error);
    }
}

TEST(emulated_drive, medium_error_list_syntax) {
    sector_ranges ranges;
    EXPECT_TRUE(parse_sector_ranges("7,10-12,300", ranges));
    EXPECT_EQ(ranges, (sector_ranges{{7, 7}, {10, 12}, {300, 300}}));
    for (const char* bad : {"", "x", "5,", "5-", "9-3", "1;2", "-4", "3,,4"}) {
        sector_ranges r;
        EXPECT_FALSE(parse_sector_ranges(bad, r)) << bad;
    }
    temp_dir dir;
    const built_disc disc = build_disc(dir.path(), {.tracks = {{}}});
    ::setenv("VORKA_IMAGE_MEDIUM_ERRORS", "12-x", 1);
    const passthrough_open_result opened = open_emulated_drive(disc.cue.string());
    ::unsetenv("VORKA_IMAGE_MEDIUM_ERRORS");
    EXPECT_EQ(opened.error,
              "VORKA_IMAGE_MEDIUM_ERRORS: bad sector list \"12-x\" (expected first[-last][,...], "
              "decimal)");
}

// A BIN that fails to read once the image is open (a disc image on a
// dying disk): the open BIN's descriptor is made to refer to a folder, which
// refuses every read.
TEST(emulated_drive, unreadable_bin_is_an_unrecovered_read_error) {
    temp_dir dir;
    const built_disc disc = build_disc(dir.path(), {.tracks = {{}}});
    passthrough_open_result opened = open_emulated_drive(disc.cue.string());
    ASSERT_NE(opened.device, nullptr) << opened.error;
    const std::filesystem::path bin = std::filesystem::canonical(dir / "disc-01.bin");
    int bin_fd = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        if (std::filesystem::read_symlink(entry.path(), ignored) == bin) {
            bin_fd = std::stoi(entry.path().filename().string());
        }
    }
    if (bin_fd < 0) {
        GTEST_SKIP() << "no /proc/self/fd here";
    }
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(::dup2(folder, bin_fd), bin_fd);
    ::close(folder);
    EXPECT_EQ(sense_of(send(*opened.device, read_cd_cdb(0, 1), 2352).outcome),
              (std::array<int, 3>{3, 0x11, 0}));
}

TEST(emulated_drive, cue_sheet_error_is_the_open_error) {
    temp_dir dir;
    write_file(dir / "d.cue", "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:99\n");
    const passthrough_open_result opened = open_emulated_drive((dir / "d.cue").string());
    EXPECT_EQ(opened.device, nullptr);
    EXPECT_EQ(opened.error,
              (dir / "d.cue").string() +
                  " line 3: bad time \"00:00:99\" (seconds below 60, frames below 75)");
}

// The whole path a reader takes: the channel on the emulated drive.
TEST(emulated_drive, channel_reads_a_generated_image) {
    temp_dir dir;
    const built_disc disc =
        build_disc(dir.path(), {.tracks = {{.sectors = 100}, {.sectors = 60, .pregap = 30}}});
    passthrough_open_result opened = open_emulated_drive(disc.cue.string());
    ASSERT_NE(opened.device, nullptr) << opened.error;
    auto device = scsi_attach(std::move(opened.device));
    scsi_command(*device, read_toc_cdb(), 2048, data_direction::in);
    EXPECT_EQ(device->transfer_buffer[3], 2);
    EXPECT_EQ(device->transfer_buffer[4 + 8 + 7], 130);
    scsi_send(*device, read_cd_cdb(140, 26), transfer_buffer_bytes, data_direction::in,
              message_kind::cdda_read);
    std::array<std::uint8_t, 2352> sector{};
    fill_test_audio(165, sector.data());
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), device->transfer_buffer.end() - 2352));
    scsi_close(*device);
}

}  // namespace

namespace {

// What each kind of drive makes of the mode commands and of READ(10) on
// audio sectors; the bytes of every read are the same on all of them.
TEST(emulated_drive_kinds, mode_commands_and_reads_by_kind) {
    temp_dir dir;
    const built_disc disc = build_disc(
        dir.path(), {.tracks = {{.sectors = 30}, {.mode = track_mode::mode1_2352, .sectors = 20}}});
    const bytes list6{0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30};
    const bytes list10{0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30};
    const bytes no_descriptor{0, 0, 0, 0, 0, 0, 0, 0};
    const bytes select6{0x15, 0x10, 0, 0, 12, 0};
    const bytes select10{0x55, 0x10, 0, 0, 0, 0, 0, 0, 16, 0};
    const bytes select10_header_only{0x55, 0x10, 0, 0, 0, 0, 0, 0, 8, 0};
    const bytes sense10{0x5a, 0, 0, 0, 0, 0, 0, 0, 16, 0};
    const std::array<int, 3> ok{-1, -1, -1};
    const std::array<int, 3> unknown{5, 0x20, 0};
    const std::array<int, 3> refused{5, 0x26, 0};
    const std::array<int, 3> wrong_mode{5, 0x64, 0};
    struct kind_case {
        drive_kind kind;
        std::array<int, 3> six, ten, audio_by_read10;
    };
    const kind_case cases[] = {
        {drive_kind::scsi, ok, ok, ok},
        {drive_kind::atapi, unknown, ok, ok},
        {drive_kind::mmc, unknown, refused, wrong_mode},
    };
    for (const kind_case& c : cases) {
        std::string error;
        emulated_drive drive(disc_image::open(disc.cue.string(), error), {}, c.kind);
        EXPECT_EQ(sense_of(send(drive, select6, data_direction::out, 12, list6).outcome), c.six);
        EXPECT_EQ(sense_of(send(drive, select10, data_direction::out, 16, list10).outcome), c.ten);
        // A header without a block descriptor changes nothing anywhere.
        EXPECT_EQ(
            sense_of(
                send(drive, select10_header_only, data_direction::out, 8, no_descriptor).outcome),
            ok);
        const std::uint32_t expected_length = c.kind == drive_kind::mmc ? 2048 : 2352;
        EXPECT_EQ(drive.block_length(), expected_length);
        const answer mode = send(drive, sense10, data_direction::in, 16);
        ASSERT_TRUE(completed(mode));
        EXPECT_EQ((mode.data[13] << 16 | mode.data[14] << 8 | mode.data[15]), expected_length);
        // Audio: READ(10) from 2352-byte blocks where the drive has them;
        // READ CD everywhere, also raw with any sector type.
        const answer by_read10 = send(drive, read10_cdb(0x28, 3, 1), expected_length);
        EXPECT_EQ(sense_of(by_read10.outcome), c.audio_by_read10);
        bytes sector(2352);
        expected_raw_sector(disc, 3, sector.data());
        EXPECT_EQ(send(drive, read_cd_cdb(3, 1), 2352).data, sector);
        EXPECT_EQ(send(drive, read_cd_raw_cdb(3, 1), 2352).data, sector);
        expected_raw_sector(disc, 35, sector.data());
        EXPECT_EQ(send(drive, read_cd_raw_cdb(35, 1), 2352).data, sector);
    }
}

TEST(emulated_drive_kinds, chosen_by_environment) {
    temp_dir dir;
    const built_disc disc = build_disc(dir.path(), {.tracks = {{}}});
    ::setenv("VORKA_IMAGE_DRIVE", "ide", 1);
    const passthrough_open_result opened = open_emulated_drive(disc.cue.string());
    ::setenv("VORKA_IMAGE_DRIVE", "atapi", 1);
    passthrough_open_result atapi = open_emulated_drive(disc.cue.string());
    ::unsetenv("VORKA_IMAGE_DRIVE");
    EXPECT_EQ(opened.device, nullptr);
    EXPECT_EQ(opened.error,
              "VORKA_IMAGE_DRIVE: unknown drive kind \"ide\" (expected scsi, atapi or mmc)");
    ASSERT_NE(atapi.device, nullptr);
    EXPECT_EQ(sense_of(send(*atapi.device, mode_sense6_cdb(), 12).outcome),
              (std::array<int, 3>{5, 0x20, 0}));
}

}  // namespace
