#include "scsi/toc.h"

#include <gtest/gtest.h>

#include "common/common_test_util.h"
#include "scsi/fake_drive_test_util.h"

namespace {

using bytes = std::vector<std::uint8_t>;
using lines = std::vector<std::string>;

const std::string read_toc = "43 00 00 00 00 00 01 08 00 00 | in 2048";

struct descriptor {
    std::uint8_t adr_control;
    std::int32_t start;
};

// A READ TOC answer: the length field, first and last track, and one
// descriptor per entry (the last one being the lead-out).
bytes toc_response(const std::vector<descriptor>& entries) {
    const std::size_t length = 2 + 8 * entries.size();
    bytes response{static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 1,
                   static_cast<std::uint8_t>(entries.size() - 1)};
    std::uint8_t number = 1;
    for (const descriptor& d : entries) {
        const auto start = static_cast<std::uint32_t>(d.start);
        response.insert(response.end(),
                        {0, d.adr_control, number++, 0, static_cast<std::uint8_t>(start >> 24),
                         static_cast<std::uint8_t>(start >> 16),
                         static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start)});
    }
    return response;
}

// The first sector of a data track: sync, address, then the mode byte.
bytes raw_sector(std::uint8_t mode) {
    bytes sector(sector_bytes, 0);
    sector[15] = mode;
    return sector;
}

std::string sector_read(int lba) {
    char text[64];
    std::snprintf(text, sizeof text, "28 00 00 %02x %02x %02x 00 00 01 00 | in 2352",
                  lba >> 16 & 0xff, lba >> 8 & 0xff, lba & 0xff);
    return text;
}

TEST(track_table, audio_disc_costs_two_mode_selects_and_one_read_toc) {
    fake_drive drive;
    drive.script->then(scripted_answer::completed())
        .then(scripted_answer::completed(toc_response({{0x10, 0}, {0x10, 13000}})));
    track_table table;
    read_mode_state state;
    load_track_table(*drive.device, state, table);
    EXPECT_EQ(drive.sent(), (lines{select_2048, read_toc, select_2048}));
    EXPECT_EQ(table.track_count, 1);
    EXPECT_EQ(table.track_start[0], 0);
    EXPECT_EQ(table.track_start[1], 13000);
    EXPECT_EQ(track_kind(table, 0), track_kind_audio);
}

TEST(track_table, data_tracks_are_probed_for_their_sector_mode) {
    fake_drive drive;
    drive.script->then(scripted_answer::completed())
        .then(scripted_answer::completed(
            toc_response({{0x14, 0}, {0x10, 1000}, {0x14, 2000}, {0x14, 3000}, {0x10, 4000}})))
        .then(scripted_answer::completed())
        .then(scripted_answer::completed(raw_sector(2)))
        .then(scripted_answer::completed(raw_sector(1)))
        .then(scripted_answer::completed(raw_sector(0)));
    track_table table;
    read_mode_state state;
    load_track_table(*drive.device, state, table);
    EXPECT_EQ(drive.sent(), (lines{select_2048, read_toc, select_2352(), sector_read(0),
                                   sector_read(2000), sector_read(3000), select_2048}));
    EXPECT_EQ(table.track_count, 4);
    EXPECT_EQ(table.track_type[0], 0x06);
    EXPECT_EQ(track_kind(table, 0), track_kind_video);
    EXPECT_EQ(track_kind(table, 1), track_kind_audio);
    EXPECT_EQ(track_kind(table, 2), track_kind_data);
    EXPECT_EQ(track_kind(table, 3), track_kind_data);
    // The lead-out keeps its descriptor byte.
    EXPECT_EQ(table.track_type[4], 0x10);
}

// A Mode 2 data track whose first sector the drive cannot read is still
// listed, as a data track; a failure that is no answer of the drive's still
// ends the run with the read's messages.
TEST(track_table, a_data_track_that_cannot_be_probed_stays_a_data_track) {
    const bytes toc = toc_response({{0x10, 0}, {0x14, 1000}, {0x10, 2000}});
    fake_drive drive;
    drive.script->then(scripted_answer::completed())
        .then(scripted_answer::completed(toc))
        .then(scripted_answer::completed())
        .then(scripted_answer::check_condition(3, 0x11, 0));
    track_table table;
    read_mode_state state;
    const run_result r = run_captured([&] { load_track_table(*drive.device, state, table); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(track_kind(table, 1), track_kind_data);
    EXPECT_EQ(drive.sent().back(), select_2048);

    fake_drive broken;
    broken.script->then(scripted_answer::completed())
        .then(scripted_answer::completed(toc))
        .then(scripted_answer::completed())
        .then(scripted_answer::failed(0x1000000));
    read_mode_state other;
    const run_result failed = run_captured([&] { load_track_table(*broken.device, other, table); });
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err,
              "error returned from CD-ROM read command:\nccb->ccb_h.status == 16777216\n");
}

// A drive that keeps 2048-byte blocks: the probe reads the raw sector with
// READ CD, and there is nothing to restore around the table of contents.
TEST(track_table, a_drive_with_a_fixed_block_length_is_probed_with_read_cd) {
    fake_drive drive;
    drive.script->then(scripted_answer::check_condition(5, 0x26, 0))
        .then(scripted_answer::completed(toc_response({{0x14, 0}, {0x10, 1000}})))
        .then(scripted_answer::completed(raw_sector(2)));
    track_table table;
    read_mode_state state;
    load_track_table(*drive.device, state, table);
    EXPECT_EQ(drive.sent(),
              (lines{select_2048, read_toc, "be 00 00 00 00 00 00 00 01 f8 00 00 | in 2352"}));
    EXPECT_EQ(track_kind(table, 0), track_kind_video);
}

TEST(track_table, entry_count_is_bounded_by_one_and_the_table) {
    struct count_case {
        int length;
        int tracks;
    };
    for (const count_case c :
         {count_case{0, 0}, {17, 0}, {18, 1}, {809, 99}, {810, 100}, {65535, 100}}) {
        bytes response(2048, 0);
        response[0] = static_cast<std::uint8_t>(c.length >> 8);
        response[1] = static_cast<std::uint8_t>(c.length);
        response[5] = 0x10;
        response[11] = 7;
        track_table table;
        parse_track_table(response.data(), table);
        EXPECT_EQ(table.track_count, c.tracks) << c.length;
        EXPECT_EQ(table.track_start[0], 7);
        EXPECT_EQ(table.track_type[0], 0x10);
    }
}

TEST(track_table, start_addresses_keep_their_sign) {
    track_table table;
    parse_track_table(toc_response({{0x10, -150}, {0x10, 100}}).data(), table);
    EXPECT_EQ(table.track_start[0], -150);
}

TEST(track_kind_at, sectors_outside_the_tracks_belong_to_the_first_or_last) {
    track_table table;
    table.track_count = 3;
    table.track_start = {100, 200, 300, 400};
    table.track_type = {0x10, 0x16, 0x15, 0x10};
    struct at_case {
        std::int64_t sector;
        int kind;
    };
    for (const at_case c : {at_case{0, track_kind_audio},
                            {100, track_kind_audio},
                            {199, track_kind_audio},
                            {200, track_kind_video},
                            {299, track_kind_video},
                            {300, track_kind_data},
                            {400, track_kind_data},
                            {99999, track_kind_data}}) {
        EXPECT_EQ(track_kind_at(table, c.sector), c.kind) << c.sector;
    }
}

TEST(track_kind_at, a_disc_without_tracks_answers_with_its_only_entry) {
    track_table table;
    table.track_type[0] = 0x14;
    EXPECT_EQ(track_kind_at(table, 5), track_kind_data);
}

}  // namespace
