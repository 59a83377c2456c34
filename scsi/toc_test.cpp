#include "scsi/toc.h"

#include <gtest/gtest.h>

#include "common/common_test_util.h"
#include "scsi/fake_drive_test_util.h"

namespace {

using bytes = std::vector<std::uint8_t>;
using lines = std::vector<std::string>;

const std::string read_toc = "43 00 00 00 00 00 01 08 00 00 | in 2048";
const std::string read_sessions = "43 00 01 00 00 00 00 00 0c 00 | in 12";
const std::string read_full_toc = "43 02 02 00 00 00 01 08 00 00 | in 2048";

// READ TOC format 1: first and last session, the last one's first track.
bytes sessions_response(std::uint8_t last_session, std::uint8_t first_track, std::uint32_t start) {
    return {0,
            0x0a,
            1,
            last_session,
            0,
            0x14,
            first_track,
            0,
            static_cast<std::uint8_t>(start >> 24),
            static_cast<std::uint8_t>(start >> 16),
            static_cast<std::uint8_t>(start >> 8),
            static_cast<std::uint8_t>(start)};
}

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

// A full TOC (format 2) with point A2 of two sessions, as addresses in
// minutes, seconds and frames.
bytes full_toc_response(std::int64_t first_leadout, std::int64_t second_leadout) {
    bytes response{0, 2 + 3 * 11, 1, 2};
    auto entry = [&](std::uint8_t session, std::uint8_t point, std::int64_t lba) {
        const std::int64_t address = lba + 150;
        response.insert(response.end(), {session, 0x10, 0, point, 0, 0, 0, 0,
                                         static_cast<std::uint8_t>(address / 4500),
                                         static_cast<std::uint8_t>(address / 75 % 60),
                                         static_cast<std::uint8_t>(address % 75)});
    };
    entry(1, 0xa0, 0);
    entry(2, 0xa2, second_leadout);
    entry(1, 0xa2, first_leadout);
    return response;
}

// Audio tracks at 0 and 15000, a data track at 33000, the lead-out at
// 40000: the last audio track ends at the first session's lead-out.
TEST(track_table, an_enhanced_cd_ends_its_audio_at_the_first_sessions_lead_out) {
    const bytes toc = toc_response({{0x10, 0}, {0x10, 15000}, {0x14, 33000}, {0x14, 40000}});
    const scripted_answer refused = scripted_answer::check_condition(5, 0x24, 0);
    struct row {
        const char* what;
        std::vector<scripted_answer> answers;  // to the session commands
        lines session_commands;
        std::int64_t end;
    };
    const row rows[] = {
        {"the drive gives the lead-out",
         {scripted_answer::completed(sessions_response(2, 3, 33000)),
          scripted_answer::completed(full_toc_response(21000, 40000))},
         {read_sessions, read_full_toc},
         21000},
        {"no full TOC: the data track's start less the session gap",
         {scripted_answer::completed(sessions_response(2, 3, 33000)), refused},
         {read_sessions, read_full_toc},
         21600},
        {"no session information", {refused}, {read_sessions}, 21600},
        {"a lead-out beyond the data track's start",
         {scripted_answer::completed(sessions_response(2, 3, 33000)),
          scripted_answer::completed(full_toc_response(33001, 40000))},
         {read_sessions, read_full_toc},
         21600},
        {"one session",
         {scripted_answer::completed(sessions_response(1, 1, 0))},
         {read_sessions},
         -1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        fake_drive drive;
        drive.script->then(scripted_answer::completed()).then(scripted_answer::completed(toc));
        for (const scripted_answer& answer : r.answers) {
            drive.script->then(answer);
        }
        drive.script->then(scripted_answer::completed())
            .then(scripted_answer::completed(raw_sector(2)))
            .then(scripted_answer::completed());
        track_table table;
        read_mode_state state;
        load_track_table(*drive.device, state, table);
        lines expected{select_2048, read_toc};
        expected.insert(expected.end(), r.session_commands.begin(), r.session_commands.end());
        expected.insert(expected.end(), {select_2352(), sector_read(33000), select_2048});
        EXPECT_EQ(drive.sent(), expected);
        EXPECT_EQ(table.audio_session_end, r.end);
        EXPECT_EQ(track_end(table, 0), 15000);
        EXPECT_EQ(track_end(table, 1), r.end >= 0 ? r.end : 33000);
        EXPECT_EQ(track_end(table, 2), 40000);  // the data track is read as ever
    }
}

// A data track too close to the last audio track for a session between
// them (an image that keeps no gap, a mixed disc): nothing is asked.
TEST(track_table, no_room_for_a_second_session_asks_nothing) {
    fake_drive drive;
    drive.script->then(scripted_answer::completed())
        .then(scripted_answer::completed(
            toc_response({{0x10, 0}, {0x10, 15000}, {0x14, 26400}, {0x14, 30000}})))
        .then(scripted_answer::completed())
        .then(scripted_answer::completed(raw_sector(1)));
    track_table table;
    read_mode_state state;
    load_track_table(*drive.device, state, table);
    EXPECT_EQ(drive.sent(),
              (lines{select_2048, read_toc, select_2352(), sector_read(26400), select_2048}));
    EXPECT_EQ(table.audio_session_end, -1);
    EXPECT_EQ(track_end(table, 1), 26400);
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
