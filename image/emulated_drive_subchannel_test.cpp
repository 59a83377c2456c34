// READ CD with every field and sub-channel selection, READ SUB-CHANNEL and
// CD-Text, on images whose cue sheets give a catalog number, ISRCs and
// CD-Text.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "common/common_test_util.h"
#include "image/disc_builder.h"
#include "image/drive_test_util.h"
#include "image/emulated_drive.h"
#include "image/read_cd_fields_test_util.h"
#include "image/subchannel.h"

namespace {

using drive_test::answer;
using drive_test::bytes;
using drive_test::invalid_field;
using drive_test::send;
using drive_test::sense_of;
constexpr std::array<int, 3> illegal_mode{5, 0x64, 0};
constexpr std::array<int, 3> no_error{-1, -1, -1};

bytes read_cd(std::uint32_t lba, std::uint32_t count, std::uint8_t type, std::uint8_t byte9,
              std::uint8_t byte10) {
    return {0xbe,
            static_cast<std::uint8_t>(type << 2),
            static_cast<std::uint8_t>(lba >> 24),
            static_cast<std::uint8_t>(lba >> 16),
            static_cast<std::uint8_t>(lba >> 8),
            static_cast<std::uint8_t>(lba),
            static_cast<std::uint8_t>(count >> 16),
            static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count),
            byte9,
            byte10,
            0};
}

bytes slice(const bytes& data, std::size_t from, std::size_t count) {
    return bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::string text(const bytes& data, std::size_t from, std::size_t count) {
    return std::string(data.begin() + static_cast<std::ptrdiff_t>(from),
                       data.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// The text after `after` gets `lines` inserted after it (after the first
// line ending that follows).
std::string insert_after(std::string cue, const std::string& after, const std::string& lines) {
    const std::size_t at = cue.find('\n', cue.find(after)) + 1;
    return cue.insert(at, lines);
}

// Audio at 0 (pre-emphasis), audio with INDEX 00 at 300 and INDEX 01 at
// 375, audio with 30 sectors of PREGAP from 600 and INDEX 01 at 630, Mode 1
// at 780, Mode 2 at 855; lead-out 895.  The cue sheet adds a catalog
// number, ISRCs of tracks 2 and 3 and CD-Text.
class subchannel_test : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("VORKA_IMAGE_MEDIUM_ERRORS");
        disc =
            build_disc(dir.path(), {.tracks = {{.sectors = 300, .pre_emphasis = true},
                                               {.sectors = 225, .index0 = 75},
                                               {.sectors = 150, .pregap = 30},
                                               {.mode = track_mode::mode1_2352, .sectors = 75},
                                               {.mode = track_mode::mode2_2352, .sectors = 40}}});
        ASSERT_EQ(disc.starts, (std::vector<std::uint32_t>{0, 375, 630, 780, 855}));
        ASSERT_EQ(disc.leadout, 895u);
        std::string cue = read_file(disc.cue);
        cue = "CATALOG 0123456789012\nPERFORMER \"The Band\"\nTITLE \"Caf\xc3\xa9 Songs\"\n" + cue;
        cue = insert_after(cue, "TRACK 01", "    TITLE \"First\"\n");
        cue = insert_after(cue, "TRACK 02",
                           "    TITLE \"A second song with a long title\"\n"
                           "    ISRC GBAYE6700012\n"
                           "    SONGWRITER \"Someone\"\n");
        cue = insert_after(cue, "TRACK 03", "    ISRC us-z03-98-00001\n");
        write_file(disc.cue, cue);
        drive = open(disc.cue);
    }

    static std::unique_ptr<passthrough> open(const std::filesystem::path& cue) {
        passthrough_open_result opened = open_emulated_drive(cue.string());
        EXPECT_NE(opened.device, nullptr) << opened.error;
        return std::move(opened.device);
    }

    bytes raw(std::uint32_t lba) {
        bytes out(2352);
        expected_raw_sector(disc, lba, out.data());
        return out;
    }

    // The formatted Q of one sector.
    bytes q_of(std::uint32_t lba) {
        const answer a = send(*drive, read_cd(lba, 1, 0, 0x00, 2), 16);
        EXPECT_EQ(sense_of(a.outcome), no_error) << lba;
        return a.data;
    }

    temp_dir dir;
    built_disc disc;
    std::unique_ptr<passthrough> drive;
};

// A Mode 2 track of two sectors: Form 1 (submode 08h, data), then Form 2
// (submode 20h).
std::filesystem::path write_form2_disc(const std::filesystem::path& folder) {
    std::string bin(2 * 2352, '\0');
    for (int s = 0; s < 2; ++s) {
        bytes sector(2352);
        write_sector_header(static_cast<std::uint32_t>(s), 2, sector.data());
        const std::uint8_t submode = s == 0 ? 0x08 : 0x20;
        sector[18] = sector[22] = submode;
        for (std::size_t i = 24; i < 2352; ++i) {
            sector[i] = static_cast<std::uint8_t>(i * 7 + s);
        }
        std::copy(sector.begin(), sector.end(), bin.begin() + s * 2352);
    }
    write_file(folder / "form2.bin", bin);
    write_file(folder / "form2.cue",
               "FILE \"form2.bin\" BINARY\n  TRACK 01 MODE2/2352\n"
               "    INDEX 01 00:00:00\n");
    return folder / "form2.cue";
}

// Every byte 9 and every byte 10 on a sector of each kind: the byte count of
// MMC's table, plus 294 or 296 bytes of C2 information and 16 or 96 of
// sub-channel; the main-channel bytes are the raw sector's; everything MMC
// reserves or calls illegal is INVALID FIELD IN CDB.
TEST_F(subchannel_test, read_cd_returns_what_every_field_combination_selects) {
    temp_dir other;
    const std::unique_ptr<passthrough> form2_drive = open(write_form2_disc(other.path()));
    const struct {
        const char* what;
        passthrough* drive;
        std::uint32_t lba;
        int column;  // in MMC's table
    } sectors[] = {
        {"CD-DA", drive.get(), 10, 0},
        {"Mode 1", drive.get(), 790, 1},
        {"Mode 2 Form 1", form2_drive.get(), 0, 3},
        {"Mode 2 Form 2", form2_drive.get(), 1, 4},
    };
    const std::uint8_t byte10s[] = {0, 1, 2, 3, 4, 5, 6, 7, 0x08, 0x10, 0x80};
    for (const auto& s : sectors) {
        SCOPED_TRACE(s.what);
        const answer whole = send(*s.drive, read_cd(s.lba, 1, 0, 0xf8, 0), 2352);
        ASSERT_EQ(sense_of(whole.outcome), no_error);
        for (int byte9 = 0; byte9 < 256; ++byte9) {
            for (const std::uint8_t byte10 : byte10s) {
                SCOPED_TRACE(testing::Message()
                             << std::hex << "byte 9 " << byte9 << ", byte 10 " << int(byte10));
                const int c2 = (byte9 >> 1 & 3) == 1 ? 294 : (byte9 >> 1 & 3) == 2 ? 296 : 0;
                const int sub = byte10 == 1 || byte10 == 4 ? 96 : byte10 == 2 ? 16 : 0;
                const int main = mmc_main_channel_bytes[byte9 >> 3][s.column];
                const bool reserved = (byte9 & 1) != 0 || (byte9 >> 1 & 3) == 3 ||
                                      (byte10 != 0 && byte10 != 1 && byte10 != 2 && byte10 != 4);
                if (reserved || main < 0) {
                    ASSERT_EQ(sense_of(send(*s.drive,
                                            read_cd(s.lba, 1, 0, std::uint8_t(byte9), byte10), 2352)
                                           .outcome),
                              invalid_field);
                    continue;
                }
                const std::size_t length = std::size_t(main + c2 + sub);
                const answer a =
                    send(*s.drive, read_cd(s.lba, 1, 0, std::uint8_t(byte9), byte10), length);
                ASSERT_EQ(sense_of(a.outcome), no_error);
                ASSERT_EQ(a.outcome.what, scsi_outcome::kind::completed);
                // The fields are a run of the raw sector that ends where
                // the last field asked for ends.
                const bytes main_bytes = slice(a.data, 0, std::size_t(main));
                const std::string haystack(whole.data.begin(), whole.data.end());
                ASSERT_NE(haystack.find(std::string(main_bytes.begin(), main_bytes.end())),
                          std::string::npos);
                ASSERT_EQ(slice(a.data, std::size_t(main), std::size_t(c2)),
                          bytes(std::size_t(c2), 0));
                // Two sectors take twice as much; one byte less is refused.
                EXPECT_EQ(
                    send(*s.drive, read_cd(s.lba, 1, 0, std::uint8_t(byte9), byte10), length + 1)
                        .outcome.what,
                    scsi_outcome::kind::failed);
            }
        }
    }
    // Where the user data lies: after the header, or after the subheader.
    EXPECT_EQ(send(*drive, read_cd(790, 1, 0, 0x10, 0), 2048).data, slice(raw(790), 16, 2048));
    EXPECT_EQ(send(*drive, read_cd(790, 1, 2, 0x78, 0), 2340).data, slice(raw(790), 12, 2340));
    const answer form1 = send(*form2_drive, read_cd(0, 1, 0, 0xf8, 0), 2352);
    EXPECT_EQ(send(*form2_drive, read_cd(0, 1, 4, 0x10, 0), 2048).data,
              slice(form1.data, 24, 2048));
    const answer form2 = send(*form2_drive, read_cd(1, 1, 0, 0xf8, 0), 2352);
    EXPECT_EQ(send(*form2_drive, read_cd(1, 1, 5, 0x58, 0), 2336).data,
              slice(form2.data, 16, 2336));
}

// A CD-DA sector is all user data: what the Linux CD drivers' and libcdio's
// reads ask for (0x78, 0xf8, 0x10, headers and EDC included) is the 2352
// bytes of audio, with the sub-channel after them when asked for.
TEST_F(subchannel_test, audio_sectors_are_their_samples_whatever_the_fields) {
    const bytes audio = raw(375);
    for (const std::uint8_t byte9 : {0x10, 0x58, 0x78, 0xf8, 0x08, 0x20}) {
        for (const std::uint8_t type : {0, 1}) {
            EXPECT_EQ(send(*drive, read_cd(375, 1, type, byte9, 0), 2352).data, audio)
                << int(byte9);
        }
    }
    const answer with_q = send(*drive, read_cd(374, 2, 1, 0xf8, 2), 2 * (2352 + 16));
    ASSERT_EQ(sense_of(with_q.outcome), no_error);
    EXPECT_EQ(slice(with_q.data, 2368, 2352), audio);
    EXPECT_EQ(slice(with_q.data, 2352, 16), q_of(374));
    EXPECT_EQ(slice(with_q.data, 2368 + 2352, 16), q_of(375));
    const answer with_c2 = send(*drive, read_cd(375, 1, 1, 0xfc, 1), 2352 + 296 + 96);
    EXPECT_EQ(slice(with_c2.data, 0, 2352), audio);
}

TEST_F(subchannel_test, read_cd_refuses_sectors_of_another_type) {
    const struct {
        std::uint32_t lba;
        std::uint8_t type;
        std::array<int, 3> sense;
    } rows[] = {
        {10, 1, no_error},      {10, 2, illegal_mode},  {790, 2, no_error},
        {790, 1, illegal_mode}, {790, 4, illegal_mode}, {860, 4, no_error},
        {860, 5, illegal_mode}, {860, 3, illegal_mode}, {10, 6, invalid_field},
        {10, 7, invalid_field},
    };
    for (const auto& r : rows) {
        const std::size_t length = r.lba < 780 ? 2352 : 2048;
        EXPECT_EQ(sense_of(send(*drive, read_cd(r.lba, 1, r.type, 0x10, 0), length).outcome),
                  r.sense)
            << r.lba << " type " << int(r.type);
    }
    // A run from audio into data asked for as CD-DA is refused whole.
    EXPECT_EQ(sense_of(send(*drive, read_cd(779, 2, 1, 0x10, 2), 2 * 2368).outcome), illegal_mode);
}

// A read that runs from one kind of sector into the other names the first
// sector it cannot read in the information field, as drives do: the kernel
// keeps what comes before it when a data track's read-ahead runs into the
// audio after it.
TEST(illegal_mode, names_the_first_sector_of_the_other_kind) {
    temp_dir dir;
    const built_disc disc =
        build_disc(dir.path(), {.tracks = {{.mode = track_mode::mode1_2048, .sectors = 50},
                                           {.sectors = 30, .new_file = true}}});
    passthrough_open_result opened = open_emulated_drive(disc.cue.string());
    ASSERT_NE(opened.device, nullptr) << opened.error;
    passthrough& drive = *opened.device;
    const struct {
        bytes cdb;
        std::size_t length;
        std::uint32_t first;
    } rows[] = {
        {{0x28, 0, 0, 0, 0, 45, 0, 0, 10, 0}, 10 * 2048, 50},
        {read_cd(48, 4, 2, 0x10, 0), 2 * 2048 + 2 * 2352, 50},
        {read_cd(48, 4, 1, 0x10, 0), 4 * 2352, 48},
        {{0xd8, 0, 0, 0, 0, 49, 0, 0, 0, 2, 0, 0}, 2 * 2352, 49},
    };
    for (const auto& r : rows) {
        const scsi_outcome outcome = send(drive, r.cdb, r.length).outcome;
        EXPECT_EQ(sense_of(outcome), illegal_mode);
        EXPECT_EQ(outcome.sense[0], 0xf0);  // the information field is valid
        EXPECT_EQ(outcome.sense[3] << 24 | outcome.sense[4] << 16 | outcome.sense[5] << 8 |
                      outcome.sense[6],
                  int(r.first));
    }
    // SET CD SPEED: any speed will do.
    EXPECT_EQ(send(drive, {0xbb, 0, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0}, 0).outcome.what,
              scsi_outcome::kind::completed);
}

// CRC-16 with x^16 + x^12 + x^5 + 1, from zero, inverted: its check value
// for "123456789" is the complement of 0x31c3.
TEST(subchannel_crc, is_the_inverted_ccitt_crc) {
    const std::string check = "123456789";
    EXPECT_EQ(subchannel_crc({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
              0xce3c);
}

TEST_F(subchannel_test, q_carries_track_index_and_times_in_bcd) {
    const struct {
        std::uint32_t lba;
        bytes q10;  // control/ADR, track, index, relative MSF, zero, absolute MSF
        bool p;
    } rows[] = {
        {0, {0x11, 0x01, 0x01, 0x00, 0x00, 0x00, 0, 0x00, 0x02, 0x00}, false},
        {299, {0x11, 0x01, 0x01, 0x00, 0x03, 0x74, 0, 0x00, 0x05, 0x74}, false},
        {300, {0x01, 0x02, 0x00, 0x00, 0x00, 0x74, 0, 0x00, 0x06, 0x00}, true},
        {374, {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0, 0x00, 0x06, 0x74}, true},
        {376, {0x01, 0x02, 0x01, 0x00, 0x00, 0x01, 0, 0x00, 0x07, 0x01}, false},
        {600, {0x01, 0x03, 0x00, 0x00, 0x00, 0x29, 0, 0x00, 0x10, 0x00}, true},
        {630, {0x01, 0x03, 0x01, 0x00, 0x00, 0x00, 0, 0x00, 0x10, 0x30}, false},
        {790, {0x41, 0x04, 0x01, 0x00, 0x00, 0x10, 0, 0x00, 0x12, 0x40}, false},
        {894, {0x41, 0x05, 0x01, 0x00, 0x00, 0x39, 0, 0x00, 0x13, 0x69}, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.lba);
        const bytes q = q_of(r.lba);
        EXPECT_EQ(slice(q, 0, 10), r.q10);
        const std::uint16_t crc = subchannel_crc({q.data(), 10});
        EXPECT_EQ(q[10] << 8 | q[11], crc);
        EXPECT_EQ(slice(q, 12, 3), bytes(3, 0));
        EXPECT_EQ(q[15], r.p ? 0x80 : 0x00);
        // Raw P-W: bit 7 of each of 96 bytes is P, bit 6 the next bit of Q.
        const answer pw = send(*drive, read_cd(r.lba, 1, 0, 0x00, 1), 96);
        bytes q_from_pw(12, 0);
        for (std::size_t i = 0; i < 96; ++i) {
            EXPECT_EQ(pw.data[i] & 0x80, r.p ? 0x80 : 0);
            EXPECT_EQ(pw.data[i] & 0x3f, 0);
            q_from_pw[i / 8] |= static_cast<std::uint8_t>(((pw.data[i] >> 6) & 1) << (7 - i % 8));
        }
        EXPECT_EQ(q_from_pw, slice(q, 0, 12));
        EXPECT_EQ(send(*drive, read_cd(r.lba, 1, 0, 0x00, 4), 96).data, bytes(96, 0));
    }
}

// Over the disc, one sector in a hundred carries the catalog number (ADR 2)
// and, inside tracks with an ISRC, one other sector in a hundred the ISRC
// (ADR 3), each with the absolute frame; all others the position.
TEST_F(subchannel_test, q_carries_the_catalog_number_and_the_isrcs) {
    std::map<int, std::set<std::string>> isrcs;  // by track, decoded from ADR 3
    std::vector<std::uint32_t> catalog_at;
    std::uint32_t position_frames = 0;
    for (std::uint32_t lba = 0; lba < 895; ++lba) {
        const bytes q = q_of(lba);
        ASSERT_EQ(q[10] << 8 | q[11], subchannel_crc({q.data(), 10}));
        const std::uint8_t frame = static_cast<std::uint8_t>((lba + 150) % 75);
        const int adr = q[0] & 0x0f;
        const int track = lba < 300 ? 1 : lba < 600 ? 2 : lba < 780 ? 3 : lba < 855 ? 4 : 5;
        if (adr == 1) {
            ++position_frames;
            continue;
        }
        EXPECT_EQ(q[9], (frame / 10) << 4 | frame % 10) << lba;
        if (adr == 2) {
            catalog_at.push_back(lba);
            std::string digits;
            for (int i = 0; i < 13; ++i) {
                digits += char('0' + ((q[1 + i / 2] >> (i % 2 == 0 ? 4 : 0)) & 0x0f));
            }
            EXPECT_EQ(digits, "0123456789012");
            EXPECT_EQ(q[7] & 0x0f, 0);
            EXPECT_EQ(q[8], 0);
        } else {
            ASSERT_EQ(adr, 3) << lba;
            const std::uint64_t bits = std::uint64_t(q[1]) << 56 | std::uint64_t(q[2]) << 48 |
                                       std::uint64_t(q[3]) << 40 | std::uint64_t(q[4]) << 32 |
                                       std::uint64_t(q[5]) << 24 | std::uint64_t(q[6]) << 16 |
                                       std::uint64_t(q[7]) << 8 | q[8];
            std::string code;
            for (int i = 0; i < 5; ++i) {
                code += char('0' + ((bits >> (58 - 6 * i)) & 0x3f));
            }
            for (int i = 0; i < 7; ++i) {
                code += char('0' + ((bits >> (28 - 4 * i)) & 0x0f));
            }
            EXPECT_EQ(bits & 0x30000000fULL, 0u);  // the two and the four zero bits
            isrcs[track].insert(code);
        }
    }
    for (std::size_t i = 1; i < catalog_at.size(); ++i) {
        EXPECT_EQ(catalog_at[i] - catalog_at[i - 1], 100u);
    }
    EXPECT_EQ(catalog_at.size(), 9u);
    EXPECT_EQ(isrcs,
              (std::map<int, std::set<std::string>>{{2, {"GBAYE6700012"}}, {3, {"USZ039800001"}}}));
    EXPECT_GT(position_frames, 895u * 9 / 10);
}

TEST_F(subchannel_test, read_sub_channel_gives_catalog_number_isrc_and_position) {
    const answer mcn = send(*drive, {0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0}, 24);
    ASSERT_EQ(sense_of(mcn.outcome), no_error);
    EXPECT_EQ(slice(mcn.data, 0, 5), (bytes{0, 0x15, 0, 20, 0x02}));
    EXPECT_EQ(mcn.data[8], 0x80);
    EXPECT_EQ(text(mcn.data, 9, 13), "0123456789012");

    const answer isrc = send(*drive, {0x42, 0, 0x40, 0x03, 0, 0, 2, 0, 24, 0}, 24);
    EXPECT_EQ(slice(isrc.data, 0, 7), (bytes{0, 0x15, 0, 20, 0x03, 0x30, 2}));
    EXPECT_EQ(isrc.data[8], 0x80);
    EXPECT_EQ(text(isrc.data, 9, 12), "GBAYE6700012");
    const answer none = send(*drive, {0x42, 0, 0x40, 0x03, 0, 0, 1, 0, 24, 0}, 24);
    EXPECT_EQ(none.data[8], 0x00);  // track 1 has none
    EXPECT_EQ(sense_of(send(*drive, {0x42, 0, 0x40, 0x03, 0, 0, 6, 0, 24, 0}, 24).outcome),
              invalid_field);

    // The position is that of the sector read last.
    ASSERT_EQ(sense_of(send(*drive, read_cd(371, 5, 1, 0x10, 0), 5 * 2352).outcome), no_error);
    const answer lba = send(*drive, {0x42, 0, 0x40, 0x01, 0, 0, 0, 0, 16, 0}, 16);
    EXPECT_EQ(lba.data, (bytes{0, 0x15, 0, 12, 0x01, 0x10, 2, 1, 0, 0, 0x01, 0x77, 0, 0, 0, 0}));
    ASSERT_EQ(sense_of(send(*drive, read_cd(310, 1, 1, 0x10, 0), 2352).outcome), no_error);
    const answer msf = send(*drive, {0x42, 0x02, 0x40, 0x01, 0, 0, 0, 0, 16, 0}, 16);
    EXPECT_EQ(msf.data, (bytes{0, 0x15, 0, 12, 0x01, 0x10, 2, 0, 0, 0, 6, 10, 0, 0, 0, 65}));

    // Without SubQ the header alone; unknown formats are refused.
    EXPECT_EQ(send(*drive, {0x42, 0, 0, 0x02, 0, 0, 0, 0, 24, 0}, 24).data,
              (bytes{0, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (const std::uint8_t format : {0x00, 0x04, 0x40}) {
        EXPECT_EQ(sense_of(send(*drive, {0x42, 0, 0x40, format, 0, 0, 0, 0, 24, 0}, 24).outcome),
                  invalid_field);
    }
}

// The packs of READ TOC format 5, each with its CRC; the texts of one kind,
// the disc's first, each ended by a zero byte, run on through its packs.
TEST_F(subchannel_test, cd_text_from_the_cue_sheet) {
    const answer header = send(*drive, {0x43, 0, 0x05, 0, 0, 0, 0, 0, 4, 0}, 4);
    const std::size_t length = std::size_t(header.data[0] << 8 | header.data[1]) + 2;
    ASSERT_EQ((length - 4) % 18, 0u);
    const answer a = send(
        *drive, {0x43, 0, 0x05, 0, 0, 0, 0, std::uint8_t(length >> 8), std::uint8_t(length), 0},
        length);
    ASSERT_EQ(sense_of(a.outcome), no_error);
    std::map<int, std::string> streams;                      // by pack type
    std::map<int, std::vector<std::pair<int, int>>> owners;  // track and character position
    bytes size_info;
    for (std::size_t at = 4, seq = 0; at < length; at += 18, ++seq) {
        const bytes pack = slice(a.data, at, 18);
        EXPECT_EQ(pack[2], seq);
        EXPECT_EQ(pack[16] << 8 | pack[17], subchannel_crc({pack.data(), 16}));
        if (pack[0] == 0x8f) {
            size_info.insert(size_info.end(), pack.begin() + 4, pack.begin() + 16);
            continue;
        }
        streams[pack[0]] += text(pack, 4, 12);
        owners[pack[0]].emplace_back(pack[1], pack[3]);
    }
    const auto texts = [&](int type) {
        std::vector<std::string> out;
        std::string s = streams[type];
        for (std::size_t i = 0; i < 6; ++i) {
            out.push_back(s.substr(0, s.find('\0')));
            s.erase(0, s.find('\0') + 1);
        }
        EXPECT_EQ(s.find_first_not_of('\0'), std::string::npos);
        return out;
    };
    EXPECT_EQ(texts(0x80),
              (std::vector<std::string>{"Caf\xe9 Songs", "First", "A second song with a long title",
                                        "", "", ""}));
    EXPECT_EQ(texts(0x81), (std::vector<std::string>{"The Band", "", "", "", "", ""}));
    EXPECT_EQ(texts(0x82), (std::vector<std::string>{"", "", "Someone", "", "", ""}));
    // Titles: "Café Songs\0F" "irst\0A secon" "d song with " "a long title" "\0\0\0\0".
    EXPECT_EQ(owners[0x80],
              (std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {2, 7}, {2, 15}, {2, 15}}));
    ASSERT_EQ(size_info.size(), 36u);
    EXPECT_EQ(slice(size_info, 0, 4), (bytes{0x00, 1, 5, 0}));
    const std::size_t packs = (length - 4) / 18;
    EXPECT_EQ(size_info[4], 5);   // titles
    EXPECT_EQ(size_info[5], 2);   // performers: 14 bytes
    EXPECT_EQ(size_info[6], 2);   // songwriters: 13 bytes
    EXPECT_EQ(size_info[19], 3);  // the size packs
    EXPECT_EQ(size_info[20], packs - 1);
    EXPECT_EQ(size_info[28], 0x09);  // English
}

TEST(cd_text, a_disc_without_it_has_the_header_alone) {
    temp_dir dir;
    const built_disc disc = build_disc(dir.path(), {.tracks = {{.sectors = 300}}});
    passthrough_open_result opened = open_emulated_drive(disc.cue.string());
    ASSERT_NE(opened.device, nullptr);
    const answer a = send(*opened.device, {0x43, 0, 0x05, 0, 0, 0, 0, 0, 64, 0}, 64);
    EXPECT_EQ(slice(a.data, 0, 6), (bytes{0, 2, 0, 0, 0, 0}));
    const answer mcn = send(*opened.device, {0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0}, 24);
    EXPECT_EQ(mcn.data[8], 0);
}

}  // namespace
