// The emulated drive as a drive with a read offset, and with discs of two
// sessions (an enhanced CD: audio, then a data session).

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/disc_builder.h"
#include "image/drive_test_util.h"
#include "image/emulated_drive.h"
#include "image/test_audio.h"

namespace {

using drive_test::answer;
using drive_test::bytes;
using drive_test::send;
using drive_test::sense_of;

std::uint32_t information_of(const scsi_outcome& outcome) {
    return std::uint32_t(outcome.sense[3]) << 24 | outcome.sense[4] << 16 | outcome.sense[5] << 8 |
           outcome.sense[6];
}

constexpr std::array<int, 3> no_sense{-1, -1, -1};

bytes read_cd(std::uint32_t lba, std::uint32_t count, std::uint8_t type = 0x04,
              std::uint8_t fields = 0x10) {
    return {0xbe,
            type,
            static_cast<std::uint8_t>(lba >> 24),
            static_cast<std::uint8_t>(lba >> 16),
            static_cast<std::uint8_t>(lba >> 8),
            static_cast<std::uint8_t>(lba),
            static_cast<std::uint8_t>(count >> 16),
            static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count),
            fields,
            0,
            0};
}

bytes read_toc(std::uint8_t format, std::uint8_t msf = 0, std::uint8_t starting = 0) {
    return {0x43, msf, format, 0, 0, 0, starting, 0x10, 0, 0};
}

std::unique_ptr<passthrough> open_drive(const built_disc& disc) {
    passthrough_open_result opened = open_emulated_drive(disc.cue.string());
    EXPECT_NE(opened.device, nullptr) << opened.error;
    return std::move(opened.device);
}

// Audio tracks 1 and 2 in session 1, data tracks 3 and 4 in session 2.
disc_spec enhanced_cd() {
    disc_spec spec;
    spec.tracks = {
        {.sectors = 300, .pre_emphasis = true},
        {.sectors = 200, .index0 = 30},
        {.mode = track_mode::mode2_2352,
         .sectors = 100,
         .pregap = 150,
         .new_file = true,
         .new_session = true},
        {.mode = track_mode::mode2_2352, .sectors = 40},
    };
    return spec;
}

class sessions_test : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("VORKA_IMAGE_READ_OFFSET");
        disc = build_disc(dir.path(), enhanced_cd());
        drive = open_drive(disc);
    }
    void TearDown() override { ::unsetenv("VORKA_IMAGE_READ_OFFSET"); }

    temp_dir dir;
    built_disc disc;
    std::unique_ptr<passthrough> drive;
};

TEST_F(sessions_test, second_session_lies_after_the_gap) {
    // The BIN holds no gap: INDEX 01 of track 3 lies 11400 sectors after
    // the first session's lead-out, its 150-sector pregap just before.
    ASSERT_EQ(disc.session_leadouts, (std::vector<std::uint32_t>{530, 12070}));
    ASSERT_EQ(disc.starts, (std::vector<std::uint32_t>{0, 330, 11930, 12030}));
    const answer toc = send(*drive, read_toc(0), 2048);
    ASSERT_EQ(sense_of(toc.outcome), no_sense);
    EXPECT_EQ(bytes(toc.data.begin(), toc.data.begin() + 4), (bytes{0, 0x2a, 1, 4}));
    const std::uint8_t* leadout = toc.data.data() + 4 + 4 * 8;
    EXPECT_EQ(leadout[2], 0xaa);
    EXPECT_EQ(std::uint32_t(leadout[6] << 8 | leadout[7]), 12070u);
}

TEST_F(sessions_test, reads_between_the_sessions_are_refused) {
    struct row {
        std::uint32_t lba, count;
        std::array<int, 3> sense;
        std::uint32_t information;
    };
    const row rows[] = {
        {529, 1, no_sense, 0},            // the last sector of session 1
        {529, 2, {5, 0x63, 0}, 530},      // into the session's lead-out
        {530, 1, {5, 0x63, 0}, 530},      // the lead-out
        {11779, 1, {5, 0x63, 0}, 11779},  // the last sector before the pregap
        {12070, 1, {5, 0x21, 0}, 12070},  // the disc's lead-out
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.lba);
        const answer a = send(*drive, read_cd(r.lba, r.count, 0, 0xf8), r.count * 2352);
        EXPECT_EQ(sense_of(a.outcome), r.sense);
        if (r.sense != no_sense) {
            EXPECT_EQ(information_of(a.outcome), r.information);
        }
    }
    // The second session's pregap and tracks read as the image holds them.
    const answer a = send(*drive, read_cd(11780, 3, 0, 0xf8), 3 * 2352);
    ASSERT_EQ(sense_of(a.outcome), no_sense);
    bytes expected(3 * 2352);
    for (std::uint32_t i = 0; i < 3; ++i) {
        expected_raw_sector(disc, 11780 + i, expected.data() + i * 2352);
    }
    EXPECT_EQ(a.data, expected);
    const answer data = send(*drive, read_cd(11930, 1, 0, 0xf8), 2352);
    bytes track3(2352);
    expected_raw_sector(disc, 11930, track3.data());
    EXPECT_EQ(data.data, track3);
    EXPECT_EQ(data.data[15], 2);  // the header's mode byte
}

TEST_F(sessions_test, session_information_names_the_last_session) {
    const answer lba = send(*drive, read_toc(1), 12);
    EXPECT_EQ(lba.data, (bytes{0, 0x0a, 1, 2, 0, 0x14, 3, 0, 0, 0, 0x2e, 0x9a}));  // 11930
    const answer msf = send(*drive, read_toc(1, 0x02), 12);
    EXPECT_EQ(msf.data, (bytes{0, 0x0a, 1, 2, 0, 0x14, 3, 0, 0, 2, 41, 5}));  // 02:41:05
}

// One 11-byte entry of the full TOC: session, ADR/control, point and its
// PMIN, PSEC, PFRAME.
bytes full_entry(std::uint8_t session, std::uint8_t control, std::uint8_t point, std::uint8_t m,
                 std::uint8_t s, std::uint8_t f) {
    return {session, control, 0, point, 0, 0, 0, 0, m, s, f};
}

bytes concatenated(std::initializer_list<bytes> parts) {
    bytes all;
    for (const bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST_F(sessions_test, full_toc_lists_each_session_with_its_lead_out) {
    const bytes session1 = concatenated({
        full_entry(1, 0x11, 0xa0, 1, 0x00, 0),  // first track 1, CD-DA
        full_entry(1, 0x10, 0xa1, 2, 0, 0),     // last track 2
        full_entry(1, 0x10, 0xa2, 0, 9, 5),     // lead-out at 530 + 150
        full_entry(1, 0x11, 1, 0, 2, 0),        // track 1 at 00:02:00
        full_entry(1, 0x10, 2, 0, 6, 30),       // track 2 at 330 + 150
    });
    const bytes session2 = concatenated({
        full_entry(2, 0x14, 0xa0, 3, 0x20, 0),  // first track 3, CD-ROM XA
        full_entry(2, 0x14, 0xa1, 4, 0, 0),
        full_entry(2, 0x14, 0xa2, 2, 42, 70),  // lead-out at 12070 + 150
        full_entry(2, 0x14, 3, 2, 41, 5),
        full_entry(2, 0x14, 4, 2, 42, 30),
    });
    const answer all = send(*drive, read_toc(2), 4 + 10 * 11);
    ASSERT_EQ(sense_of(all.outcome), no_sense);
    EXPECT_EQ(all.data, concatenated({{0, 2 + 10 * 11, 1, 2}, session1, session2}));
    // From session 2 on; the MSF bit changes nothing.
    const answer second = send(*drive, read_toc(2, 0x02, 2), 4 + 5 * 11);
    EXPECT_EQ(second.data, concatenated({{0, 2 + 5 * 11, 1, 2}, session2}));
    EXPECT_EQ(sense_of(send(*drive, read_toc(2, 0, 3), 12).outcome),
              (std::array<int, 3>{5, 0x24, 0}));
}

TEST(sessions, one_session_disc_has_a_full_toc_too) {
    temp_dir dir;
    disc_spec spec;
    spec.tracks = {{.sectors = 300}, {.mode = track_mode::mode1_2048, .sectors = 75}};
    const built_disc disc = build_disc(dir.path(), spec);
    auto drive = open_drive(disc);
    const answer a = send(*drive, read_toc(2), 4 + 5 * 11);
    ASSERT_EQ(sense_of(a.outcome), no_sense);
    EXPECT_EQ(a.data, concatenated({{0, 2 + 5 * 11, 1, 1},
                                    full_entry(1, 0x10, 0xa0, 1, 0, 0),
                                    full_entry(1, 0x14, 0xa1, 2, 0, 0),
                                    full_entry(1, 0x14, 0xa2, 0, 7, 0),
                                    full_entry(1, 0x10, 1, 0, 2, 0),
                                    full_entry(1, 0x14, 2, 0, 6, 0)}));
    // Cut to the allocation length, as every answer is.
    EXPECT_EQ(send(*drive, read_toc(2), 4).data, (bytes{0, 2 + 5 * 11, 1, 1}));
}

TEST_F(sessions_test, disc_and_track_information_know_the_sessions) {
    const answer disc_info = send(*drive, {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34);
    EXPECT_EQ(disc_info.data[4], 2);  // sessions
    EXPECT_EQ(disc_info.data[5], 3);  // first track of the last session
    EXPECT_EQ(disc_info.data[6], 4);
    // Track 2 ends at its session's lead-out; session 2 begins with track 3.
    const answer track2 = send(*drive, {0x52, 1, 0, 0, 0, 2, 0, 0, 36, 0}, 36);
    EXPECT_EQ(track2.data[3], 1);
    EXPECT_EQ(track2.data[27], 200);  // track size
    const answer session2 = send(*drive, {0x52, 2, 0, 0, 0, 2, 0, 0, 36, 0}, 36);
    EXPECT_EQ(session2.data[2], 3);
    EXPECT_EQ(session2.data[3], 2);
}

// What a drive with a read offset of c delivers at sample p: the disc's
// sample p - c, or silence where that is not on the disc's audio.
bytes offset_audio(const built_disc& disc, std::uint32_t lba, std::uint32_t count, int c,
                   std::uint32_t audio_end) {
    bytes out(std::size_t{count} * 2352);
    std::uint8_t sector[2352];
    for (std::size_t i = 0; i < std::size_t{count} * 588; ++i) {
        const std::int64_t source = std::int64_t{lba} * 588 + std::int64_t(i) - c;
        if (source < 0 || source >= std::int64_t{audio_end} * 588) {
            std::memset(out.data() + i * 4, 0, 4);
            continue;
        }
        expected_raw_sector(disc, static_cast<std::uint32_t>(source / 588), sector);
        std::memcpy(out.data() + i * 4, sector + source % 588 * 4, 4);
    }
    return out;
}

TEST(read_offset, audio_arrives_early_by_the_offset) {
    temp_dir dir;
    disc_spec spec;
    spec.tracks = {{.sectors = 40},
                   {.sectors = 30, .new_file = true},
                   {.mode = track_mode::mode1_2352, .sectors = 10}};
    const built_disc disc = build_disc(dir.path(), spec);
    for (const int c : {6, 667, -54, -1164, 588, -588}) {
        SCOPED_TRACE(c);
        ::setenv("VORKA_IMAGE_READ_OFFSET", std::to_string(c).c_str(), 1);
        auto drive = open_drive(disc);
        ::unsetenv("VORKA_IMAGE_READ_OFFSET");
        // The disc's start, a file boundary, the sectors before the data track.
        const std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> runs = {
            {0, 3}, {38, 4}, {66, 4}, {1, 26}};
        for (const auto& [lba, count] : runs) {
            SCOPED_TRACE(lba);
            for (const bytes& cdb :
                 {read_cd(lba, count),
                  bytes{0xd8, 0, 0, 0, 0, std::uint8_t(lba), 0, 0, 0, std::uint8_t(count), 0, 0}}) {
                const answer a = send(*drive, cdb, count * 2352);
                ASSERT_EQ(sense_of(a.outcome), no_sense);
                EXPECT_EQ(a.data, offset_audio(disc, lba, count, c, 70));
            }
        }
        // Data sectors are read by their headers: no offset.
        const answer data = send(*drive, read_cd(70, 2, 0, 0xf8), 2 * 2352);
        bytes expected(2 * 2352);
        expected_raw_sector(disc, 70, expected.data());
        expected_raw_sector(disc, 71, expected.data() + 2352);
        EXPECT_EQ(data.data, expected);
        // At or past the lead-out, whatever the offset.
        EXPECT_EQ(sense_of(send(*drive, read_cd(80, 1, 0, 0xf8), 2352).outcome),
                  (std::array<int, 3>{5, 0x21, 0}));
    }
}

TEST(read_offset, last_audio_of_a_session_is_followed_by_silence) {
    temp_dir dir;
    const built_disc disc = build_disc(dir.path(), enhanced_cd());
    ::setenv("VORKA_IMAGE_READ_OFFSET", "-667", 1);
    auto drive = open_drive(disc);
    ::unsetenv("VORKA_IMAGE_READ_OFFSET");
    const answer a = send(*drive, read_cd(527, 3), 3 * 2352);
    ASSERT_EQ(sense_of(a.outcome), no_sense);
    EXPECT_EQ(a.data, offset_audio(disc, 527, 3, -667, 530));
}

TEST(read_offset, bad_values_are_refused_at_open) {
    temp_dir dir;
    disc_spec spec;
    spec.tracks = {{.sectors = 10}};
    const built_disc disc = build_disc(dir.path(), spec);
    for (const char* bad : {"x", "6x", "+-6", "5881", "-5881", "0x10", " 6", "99999999999"}) {
        SCOPED_TRACE(bad);
        ::setenv("VORKA_IMAGE_READ_OFFSET", bad, 1);
        const passthrough_open_result opened = open_emulated_drive(disc.cue.string());
        EXPECT_EQ(opened.device, nullptr);
        EXPECT_EQ(opened.error, std::string("VORKA_IMAGE_READ_OFFSET: bad read offset \"") + bad +
                                    "\" (expected samples, -5880 to 5880)");
    }
    for (const char* good : {"+6", "-5880", "5880", "0", ""}) {
        SCOPED_TRACE(good);
        ::setenv("VORKA_IMAGE_READ_OFFSET", good, 1);
        EXPECT_NE(open_emulated_drive(disc.cue.string()).device, nullptr);
    }
    ::unsetenv("VORKA_IMAGE_READ_OFFSET");
}

}  // namespace

namespace {

TEST(sessions, a_track_option_starts_the_next_session) {
    std::vector<track_spec> tracks(2);
    std::string error;
    ASSERT_TRUE(parse_track_spec("audio:300", tracks[0], error)) << error;
    ASSERT_TRUE(parse_track_spec("mode2:75,file,session", tracks[1], error)) << error;
    EXPECT_TRUE(tracks[1].new_session);
    temp_dir dir;
    disc_spec spec;
    spec.tracks = tracks;
    const built_disc disc = build_disc(dir.path(), spec);
    EXPECT_NE(read_file(disc.cue).find("REM SESSION 02\nFILE \"disc-02.bin\" BINARY\n"),
              std::string::npos);
    const auto image = disc_image::open(disc.cue.string(), error);
    ASSERT_NE(image, nullptr) << error;
    ASSERT_EQ(image->sessions().size(), 2u);
    EXPECT_EQ(image->sessions()[0].leadout, 300u);
    EXPECT_EQ(image->tracks()[1].start, 11700u);
    EXPECT_EQ(image->tracks()[1].session, 2);
}

}  // namespace
