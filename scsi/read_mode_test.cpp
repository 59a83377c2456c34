#include "scsi/read_mode.h"

#include <gtest/gtest.h>

#include "common/common_test_util.h"
#include "scsi/fake_drive_test_util.h"

namespace {

using lines = std::vector<std::string>;

drive_entry entry_with(std::uint8_t readcmd, bool mdchng, std::uint8_t density, bool swap) {
    drive_entry entry;
    entry.readcmd = readcmd;
    entry.mdchng = mdchng;
    entry.density = density;
    entry.swap_bytes = swap;
    entry.blocks = 26;
    return entry;
}

// Whether the output format wants big-endian samples.
constexpr bool little_endian = false;
constexpr bool big_endian = true;

TEST(mode_select_list, density_and_block_length_in_the_block_descriptor) {
    std::uint8_t list[12];
    build_mode_select_list(list, 0x82, 2352);
    EXPECT_EQ(hex_bytes(list), "00 00 00 08 82 00 00 00 00 00 09 30");
    build_mode_select_list(list, 0, 2048);
    EXPECT_EQ(hex_bytes(list), "00 00 00 08 00 00 00 00 00 00 08 00");
    std::uint8_t list10[16];
    build_mode_select10_list(list10, 0x82, 2352);
    EXPECT_EQ(hex_bytes(list10), "00 00 00 00 00 00 00 08 82 00 00 00 00 00 09 30");
}

// How the drive answers the mode changes, and what the run learns from it.
struct refusal_case {
    const char* what;
    std::vector<scripted_answer> answers;  // to the first and the second MODE SELECT
    std::vector<std::uint8_t> sent;        // the operation codes sent
    bool taken;
    mode_select_support learned;
};

scripted_answer refused(std::uint8_t asc) {
    return scripted_answer::check_condition(5, asc, 0);
}

TEST(read_mode, refusals_of_mode_select_choose_the_form_or_the_drive_defaults) {
    const scripted_answer ok = scripted_answer::completed();
    const refusal_case cases[] = {
        {"the 6-byte form taken", {ok}, {0x15}, true, {false, false}},
        {"an ATAPI drive: the 10-byte form",
         {refused(0x20), ok},
         {0x15, 0x55},
         true,
         {true, false}},
        {"no changeable block length", {refused(0x26)}, {0x15}, false, {false, true}},
        {"a block descriptor field refused", {refused(0x24)}, {0x15}, false, {false, true}},
        {"no mode command at all",
         {refused(0x20), refused(0x20)},
         {0x15, 0x55},
         false,
         {true, true}},
        {"ATAPI without a changeable block length",
         {refused(0x20), refused(0x26)},
         {0x15, 0x55},
         false,
         {true, true}},
    };
    for (const refusal_case& c : cases) {
        fake_drive drive;
        for (const scripted_answer& a : c.answers) {
            drive.script->then(a);
        }
        read_mode_state state;
        const run_result r = run_captured([&] {
            EXPECT_EQ(select_block_format(*drive.device, state, 0, 2352), c.taken) << c.what;
        });
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(r.err, "") << c.what;  // a refusal that has another way to go is silent
        std::vector<std::uint8_t> sent;
        for (const recorded_request& request : drive.script->requests()) {
            sent.push_back(request.cdb[0]);
        }
        EXPECT_EQ(sent, c.sent) << c.what;
        EXPECT_EQ(state.support.ten_byte_form, c.learned.ten_byte_form) << c.what;
        EXPECT_EQ(state.support.fixed_block_length, c.learned.fixed_block_length) << c.what;
        EXPECT_EQ(state.away_from_defaults, c.taken) << c.what;
    }
}

TEST(read_mode, what_was_learned_holds_for_the_rest_of_the_run) {
    fake_drive drive;
    drive.script->then(refused(0x20));
    read_mode_state state;
    restore_data_mode(*drive.device, state);
    restore_data_mode(*drive.device, state);
    const std::string select10_2048 =
        "55 10 00 00 00 00 00 00 10 00 | out 16 00 00 00 00 00 00 00 08 00 00 00 00 00 00 08 00";
    // The 6-byte form is tried once; the 10-byte form goes first from then on.
    EXPECT_EQ(drive.sent(), (lines{select_2048, select10_2048, select10_2048}));

    // A drive that keeps its block length: nothing to restore, data read raw
    // with READ CD, and a required density change still asked for and
    // reported when refused.
    fake_drive fixed;
    fixed.script->then(refused(0x26));
    read_mode_state kept;
    restore_data_mode(*fixed.device, kept);
    restore_data_mode(*fixed.device, kept);
    const drive_entry plain = entry_with(0xbe, false, 0, false);
    set_read_mode(*fixed.device, kept, {plain, little_endian}, data_mode);
    EXPECT_EQ(fixed.script->requests().size(), 1u);
    EXPECT_TRUE(kept.raw_read_cd);
    EXPECT_FALSE(kept.switched);
    EXPECT_EQ(hex_bytes(chunk_read_cdb(kept, 0x1234, 26).span()),
              "be 00 00 00 12 34 00 00 1a f8 00 00");
    set_read_mode(*fixed.device, kept, {plain, little_endian}, audio_mode);
    EXPECT_EQ(hex_bytes(chunk_read_cdb(kept, 0x1234, 26).span()),
              "be 04 00 00 12 34 00 00 1a 10 00 00");

    fixed.script->then(refused(0x26));
    const drive_entry density_change = entry_with(0x28, true, 0x82, false);
    read_mode_state again = kept;
    again.last_mode = data_mode;
    const run_result r = run_captured([&] {
        set_read_mode(*fixed.device, again, {density_change, little_endian}, audio_mode);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "error returned from SCSI command:\n"
              "Sense key: ILLEGAL REQUEST (0x5)\n"
              "Additional sense: 26/00 Invalid field in parameter list\n"
              "Sense bytes: 70 00 05 00 00 00 00 0a 00 00 00 00 26 00 00 00 00 00\n");
}

TEST(read_mode, other_failures_of_mode_select_end_the_run_as_before) {
    fake_drive drive;
    drive.script->then(scripted_answer::check_condition(2, 0x3a, 0));
    read_mode_state state;
    const run_result r = run_captured([&] { restore_data_mode(*drive.device, state); });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(
        r.err.starts_with("error returned from SCSI command:\nSense key: NOT READY (0x2)\n"))
        << r.err;
    EXPECT_EQ(drive.script->requests().size(), 1u);
}

TEST(read_mode, restoring_twice_sends_two_identical_commands) {
    fake_drive drive;
    read_mode_state state;
    restore_data_mode(*drive.device, state);
    restore_data_mode(*drive.device, state);
    EXPECT_EQ(drive.sent(), (lines{select_2048, select_2048}));
}

struct switch_case {
    const char* what;
    bool mdchng;
    std::vector<int> modes;
    lines expected;
};

TEST(read_mode, switches_send_mode_select_only_when_the_block_format_changes) {
    const switch_case cases[] = {
        {"first request acts even for data", false, {data_mode}, {select_2352()}},
        {"audio without density change sends nothing", false, {audio_mode, audio_mode}, {}},
        {"audio, data, audio without density change",
         false,
         {audio_mode, data_mode, audio_mode},
         {select_2352(), select_2048}},
        {"density change: every real switch selects 2352",
         true,
         {audio_mode, audio_mode, data_mode, audio_mode},
         {select_2352(0x82), select_2352(), select_2352(0x82)}},
        {"data twice: the second is no switch", false, {data_mode, data_mode}, {select_2352()}},
    };
    for (const switch_case& c : cases) {
        fake_drive drive;
        read_mode_state state;
        const drive_entry entry = entry_with(0xd8, c.mdchng, 0x82, false);
        for (int mode : c.modes) {
            set_read_mode(*drive.device, state, {entry, little_endian}, mode);
        }
        EXPECT_EQ(drive.sent(), c.expected) << c.what;
    }
}

TEST(read_mode, opcode_and_remembered_state_follow_the_mode) {
    fake_drive drive;
    read_mode_state state;
    const drive_entry entry = entry_with(0xbe, false, 0, false);
    set_read_mode(*drive.device, state, {entry, little_endian}, audio_mode);
    EXPECT_EQ(state.read_opcode, 0xbe);
    EXPECT_EQ(state.last_mode, audio_mode);
    EXPECT_FALSE(state.switched);
    set_read_mode(*drive.device, state, {entry, little_endian}, data_mode);
    EXPECT_EQ(state.read_opcode, 0x28);
    EXPECT_TRUE(state.switched);
    // A restore leaves the switch's memory alone.
    restore_data_mode(*drive.device, state);
    EXPECT_TRUE(state.switched);
    EXPECT_EQ(state.last_mode, data_mode);
}

TEST(read_mode, sample_swap_combines_the_drive_and_the_format) {
    struct swap_case {
        bool drive_swaps;
        bool format;
        int mode;
        bool swap;
    };
    const swap_case cases[] = {
        {false, little_endian, audio_mode, false}, {false, big_endian, audio_mode, true},
        {true, little_endian, audio_mode, true},   {true, big_endian, audio_mode, false},
        {true, little_endian, data_mode, false},   {true, big_endian, data_mode, true},
        {false, big_endian, data_mode, true},
    };
    for (const swap_case& c : cases) {
        fake_drive drive;
        read_mode_state state;
        const drive_entry entry = entry_with(0x28, false, 0, c.drive_swaps);
        set_read_mode(*drive.device, state, {entry, c.format}, c.mode);
        EXPECT_EQ(state.swap_samples, c.swap)
            << c.drive_swaps << " " << c.format << " " << c.mode;
    }
}

TEST(read_mode, a_repeated_mode_keeps_the_swap_of_the_first_switch) {
    fake_drive drive;
    read_mode_state state;
    const drive_entry entry = entry_with(0x28, false, 0, true);
    set_read_mode(*drive.device, state, {entry, little_endian}, audio_mode);
    set_read_mode(*drive.device, state, {entry, big_endian}, audio_mode);
    EXPECT_TRUE(state.swap_samples);
}

}  // namespace
