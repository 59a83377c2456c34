#include "scsi/read_mode.h"

#include <gtest/gtest.h>

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

const format_entry little_endian{"pcm", "raw", nullptr, 0};
const format_entry big_endian{"mcp", "war", nullptr, 1};

TEST(mode_select_list, density_and_block_length_in_the_block_descriptor) {
    std::uint8_t list[12];
    build_mode_select_list(list, 0x82, 2352);
    EXPECT_EQ(hex_bytes(list), "00 00 00 08 82 00 00 00 00 00 09 30");
    build_mode_select_list(list, 0, 2048);
    EXPECT_EQ(hex_bytes(list), "00 00 00 08 00 00 00 00 00 00 08 00");
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
        const format_entry& format;
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
            << c.drive_swaps << " " << c.format.name << " " << c.mode;
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
