#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/disc_builder.h"
#include "image/drive_test_util.h"
#include "image/emulated_drive.h"

namespace {

using drive_test::answer;
using drive_test::bytes;
using drive_test::invalid_field;
using drive_test::send;
using drive_test::sense_of;

std::uint32_t be32(const bytes& data, std::size_t at) {
    return std::uint32_t(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
}

bytes slice(const bytes& data, std::size_t from, std::size_t count) {
    return bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::string text(const bytes& data, std::size_t from, std::size_t count) {
    return std::string(data.begin() + static_cast<std::ptrdiff_t>(from),
                       data.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// Tracks at 0 (audio, pre-emphasis), 300 (audio) and 500 (data); lead-out 560.
class probe_test : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("VORKA_IMAGE_MEDIUM_ERRORS");
        drive = open_disc(dir.path(), {{.sectors = 300, .pre_emphasis = true},
                                       {.sectors = 200},
                                       {.mode = track_mode::mode1_2352, .sectors = 60}});
    }

    static std::unique_ptr<passthrough> open_disc(const std::filesystem::path& folder,
                                                  std::vector<track_spec> tracks) {
        const built_disc disc = build_disc(folder, {.tracks = std::move(tracks)});
        passthrough_open_result opened = open_emulated_drive(disc.cue.string());
        EXPECT_NE(opened.device, nullptr) << opened.error;
        return std::move(opened.device);
    }

    temp_dir dir;
    std::unique_ptr<passthrough> drive;
};

// Every command Linux 6.1's SCSI core and CD driver sent to the drive while
// probing it and on each open and close, as the kernel sent them.
TEST_F(probe_test, answers_everything_the_kernel_asks) {
    const bytes asked[] = {
        {0x12, 0, 0, 0, 0x24, 0},                 // INQUIRY
        {0x12, 1, 0, 0, 0x04, 0},                 // VPD page list, header
        {0x12, 1, 0, 0, 0x07, 0},                 // VPD page list
        {0x12, 1, 0x80, 0, 0xff, 0},              // unit serial number
        {0x12, 1, 0x83, 0, 0xff, 0},              // device identification
        {0, 0, 0, 0, 0, 0},                       // TEST UNIT READY
        {0x1a, 0, 0x2a, 0, 0x80, 0},              // MODE SENSE(6), capabilities
        {0x46, 0, 0, 0x28, 0, 0, 0, 0, 0x10, 0},  // GET CONFIGURATION from MRW
        {0x46, 0, 0, 0x20, 0, 0, 0, 0, 0x18, 0},  // ... from random writable
        {0x43, 0, 0, 0, 0, 0, 0, 0, 0x0c, 0x40},  // READ TOC, sessions (old form)
        {0x43, 0, 0, 0, 0, 0, 0, 0, 0x0c, 0},     // READ TOC header
        {0x43, 2, 0, 0, 0, 0, 3, 0, 0x0c, 0},     // one track's entry, MSF
        {0x43, 2, 0, 0, 0, 0, 0xaa, 0, 0x0c, 0},  // the lead-out's entry, MSF
        {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},        // READ CAPACITY
        {0x51, 0, 0, 0, 0, 0, 0, 0, 0x22, 0},     // READ DISC INFORMATION
        {0x52, 1, 0, 0, 0, 3, 0, 0, 0x24, 0},     // READ TRACK INFORMATION, last track
        {0x4a, 1, 0, 0, 0x10, 0, 0, 0, 0x08, 0},  // GET EVENT STATUS NOTIFICATION
        {0x1e, 0, 0, 0, 0, 0},                    // PREVENT ALLOW MEDIUM REMOVAL: allow
    };
    for (const bytes& cdb : asked) {
        const std::size_t length = cdb[0] == 0x25                     ? 8
                                   : cdb[0] == 0x12 || cdb[0] == 0x1a ? cdb[4]
                                   : cdb.size() == 10 ? std::size_t(cdb[7] << 8 | cdb[8])
                                                      : 0;
        SCOPED_TRACE(testing::PrintToString(cdb));
        EXPECT_EQ(send(*drive, cdb, length).outcome.what, scsi_outcome::kind::completed);
    }
}

TEST_F(probe_test, vital_product_data) {
    const answer pages = send(*drive, {0x12, 1, 0, 0, 0xff, 0}, 255);
    EXPECT_EQ(slice(pages.data, 0, 8), (bytes{0x05, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83, 0x00}));
    // A short allocation gets the header with the full page length.
    EXPECT_EQ(send(*drive, {0x12, 1, 0, 0, 4, 0}, 4).data, (bytes{0x05, 0x00, 0x00, 0x03}));

    const answer serial = send(*drive, {0x12, 1, 0x80, 0, 0xff, 0}, 255);
    ASSERT_EQ(slice(serial.data, 0, 4), (bytes{0x05, 0x80, 0x00, 16}));
    const std::string number = text(serial.data, 4, 16);
    EXPECT_EQ(number.find_first_not_of("0123456789abcdef"), std::string::npos) << number;
    EXPECT_EQ(serial.data[20], 0);

    const answer id = send(*drive, {0x12, 1, 0x83, 0, 0xff, 0}, 255);
    EXPECT_EQ(slice(id.data, 0, 8), (bytes{0x05, 0x83, 0x00, 28, 0x02, 0x01, 0x00, 24}));
    EXPECT_EQ(text(id.data, 8, 24), "VORKA   " + number);

    // The same disc gives the same number, another disc another.
    temp_dir same, other;
    auto again = open_disc(same.path(), {{.sectors = 300, .pre_emphasis = true},
                                         {.sectors = 200},
                                         {.mode = track_mode::mode1_2352, .sectors = 60}});
    auto different = open_disc(other.path(), {{.sectors = 301}});
    EXPECT_EQ(text(send(*again, {0x12, 1, 0x80, 0, 0xff, 0}, 255).data, 4, 16), number);
    EXPECT_NE(text(send(*different, {0x12, 1, 0x80, 0, 0xff, 0}, 255).data, 4, 16), number);

    EXPECT_EQ(sense_of(send(*drive, {0x12, 1, 0xb0, 0, 0xff, 0}, 255).outcome), invalid_field);
    EXPECT_EQ(sense_of(send(*drive, {0x12, 0, 0x80, 0, 0xff, 0}, 255).outcome), invalid_field);
}

TEST_F(probe_test, table_of_contents_by_session) {
    const bytes session_lba{0x00, 0x0a, 1, 1, 0, 0x11, 1, 0, 0, 0, 0, 0};
    EXPECT_EQ(send(*drive, {0x43, 0, 0, 0, 0, 0, 0, 0, 0x0c, 0x40}, 12).data, session_lba);
    EXPECT_EQ(send(*drive, {0x43, 0, 1, 0, 0, 0, 0, 0, 0x0c, 0}, 12).data, session_lba);
    EXPECT_EQ(send(*drive, {0x43, 2, 1, 0, 0, 0, 0, 0, 0x0c, 0}, 12).data,
              (bytes{0x00, 0x0a, 1, 1, 0, 0x11, 1, 0, 0, 0, 2, 0}));  // 00:02:00
    temp_dir data_first;
    auto data_disc = open_disc(data_first.path(), {{.mode = track_mode::mode1_2048}, {}});
    EXPECT_EQ(send(*data_disc, {0x43, 0, 1, 0, 0, 0, 0, 0, 0x0c, 0}, 12).data[5], 0x14);
    // Byte 9 of the form vorka sends is zero: format 0, as before.
    EXPECT_EQ(send(*drive, {0x43, 0, 0, 0, 0, 0, 1, 8, 0, 0}, 2048).data[1], 0x22);
    EXPECT_EQ(sense_of(send(*drive, {0x43, 0, 0, 0, 0, 0, 0, 0, 0x0c, 0xc0}, 12).outcome),
              invalid_field);
}

TEST_F(probe_test, capabilities_mode_page) {
    for (std::uint8_t page : {0x2a, 0x3f}) {
        SCOPED_TRACE(int(page));
        const answer a = send(*drive, {0x1a, 0, page, 0, 0x80, 0}, 128);
        ASSERT_EQ(a.outcome.what, scsi_outcome::kind::completed);
        EXPECT_EQ(a.data[0], 12 + 22 - 1);  // header, block descriptor, page
        EXPECT_EQ(a.data[3], 8);
        EXPECT_EQ(slice(a.data, 12, 2), (bytes{0x2a, 20}));
        EXPECT_EQ(a.data[12 + 5] & 0x01, 0x01);  // reads CD-DA
        EXPECT_EQ(a.data[12 + 6] >> 5, 1);       // tray
        EXPECT_EQ(a.data[12 + 6] & 0x08, 0);     // cannot eject
        EXPECT_EQ(a.data[12 + 8] << 8 | a.data[12 + 9], 24 * 176);
        EXPECT_EQ(a.data[34], 0);
    }
}

TEST_F(probe_test, capacity_disc_and_track_information) {
    EXPECT_EQ(send(*drive, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).data,
              (bytes{0, 0, 0x02, 0x2f, 0, 0, 0x08, 0}));  // last sector 559, 2048 bytes

    const answer disc = send(*drive, {0x51, 0, 0, 0, 0, 0, 0, 0, 0x22, 0}, 34);
    EXPECT_EQ(slice(disc.data, 0, 7), (bytes{0, 32, 0x0e, 1, 1, 1, 3}));
    EXPECT_EQ(sense_of(send(*drive, {0x51, 1, 0, 0, 0, 0, 0, 0, 0x22, 0}, 34).outcome),
              invalid_field);

    struct row {
        const char* what;
        bytes cdb;
        int track;  // -1: refused
        std::uint8_t control, data_mode;
        std::uint32_t start, size;
        std::array<int, 3> sense;
    };
    const row rows[] = {
        {"track 1 by number", {0x52, 1, 0, 0, 0, 1, 0, 0, 0x24, 0}, 1, 0x01, 0x0f, 0, 300, {}},
        {"track 3 by number", {0x52, 1, 0, 0, 0, 3, 0, 0, 0x24, 0}, 3, 0x04, 0x01, 500, 60, {}},
        {"by address inside track 2",
         {0x52, 0, 0, 0, 0x01, 0xf3, 0, 0, 0x24, 0},
         2,
         0,
         0x0f,
         300,
         200,
         {}},
        {"session 1", {0x52, 2, 0, 0, 0, 1, 0, 0, 0x24, 0}, 1, 0x01, 0x0f, 0, 300, {}},
        {"no track 4", {0x52, 1, 0, 0, 0, 4, 0, 0, 0x24, 0}, -1, 0, 0, 0, 0, invalid_field},
        {"past the lead-out",
         {0x52, 0, 0, 0, 0x02, 0x30, 0, 0, 0x24, 0},
         -1,
         0,
         0,
         0,
         0,
         {5, 0x21, 0}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const answer a = send(*drive, r.cdb, 36);
        if (r.track < 0) {
            EXPECT_EQ(sense_of(a.outcome), r.sense);
            continue;
        }
        ASSERT_EQ(a.outcome.what, scsi_outcome::kind::completed);
        EXPECT_EQ(slice(a.data, 0, 4), (bytes{0, 34, std::uint8_t(r.track), 1}));
        EXPECT_EQ(a.data[5], r.control);
        EXPECT_EQ(a.data[6], r.data_mode);
        EXPECT_EQ(be32(a.data, 8), r.start);
        EXPECT_EQ(be32(a.data, 24), r.size);
        EXPECT_EQ(be32(a.data, 28), r.start + r.size - 1);
    }
}

TEST_F(probe_test, configuration_features) {
    const answer all = send(*drive, {0x46, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0}, 65535);
    EXPECT_EQ(be32(all.data, 0), 4u + 8 + 12 + 8 + 12 + 8);
    EXPECT_EQ(slice(all.data, 6, 2), (bytes{0x00, 0x08}));  // current profile: CD-ROM
    EXPECT_EQ(slice(all.data, 8, 8), (bytes{0x00, 0x00, 0x03, 4, 0x00, 0x08, 0x01, 0x00}));
    std::vector<int> codes;
    for (std::size_t at = 8; at < 4 + be32(all.data, 0); at += 4 + all.data[at + 3]) {
        codes.push_back(all.data[at] << 8 | all.data[at + 1]);
    }
    EXPECT_EQ(codes, (std::vector<int>{0x00, 0x01, 0x03, 0x10, 0x1e}));

    const answer one = send(*drive, {0x46, 2, 0, 0x1e, 0, 0, 0, 0, 0x20, 0}, 32);
    EXPECT_EQ(be32(one.data, 0), 4u + 8);
    EXPECT_EQ(slice(one.data, 8, 4), (bytes{0x00, 0x1e, 0x05, 4}));

    // Nothing to write with: asked from the MRW feature on, the header alone.
    const answer none = send(*drive, {0x46, 0, 0, 0x28, 0, 0, 0, 0, 0x10, 0}, 16);
    EXPECT_EQ(slice(none.data, 0, 12), (bytes{0, 0, 0, 4, 0, 0, 0, 8, 0, 0, 0, 0}));
    EXPECT_EQ(sense_of(send(*drive, {0x46, 3, 0, 0, 0, 0, 0, 0, 0x10, 0}, 16).outcome),
              invalid_field);
}

TEST_F(probe_test, media_events) {
    EXPECT_EQ(send(*drive, {0x4a, 1, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8).data,
              (bytes{0, 6, 0x04, 0x10, 0x00, 0x02, 0, 0}));
    EXPECT_EQ(send(*drive, {0x4a, 1, 0, 0, 0x04, 0, 0, 0, 8, 0}, 8).data,
              (bytes{0, 2, 0x80, 0x10, 0, 0, 0, 0}));
    EXPECT_EQ(sense_of(send(*drive, {0x4a, 0, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8).outcome),
              invalid_field);
}

}  // namespace
