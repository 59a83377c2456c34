#include "scsi/extract.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "scsi/fake_drive_test_util.h"

namespace {

using bytes = std::vector<std::uint8_t>;
using lines = std::vector<std::string>;

// Every sector's bytes say which sector they are: the low byte of its
// address, then a counter.
std::uint8_t sample_byte(std::uint32_t sector, std::size_t offset) {
    return static_cast<std::uint8_t>(offset % 2 == 0 ? sector : offset / 2);
}

std::uint32_t address_of(const recorded_request& request) {
    const auto& c = request.cdb;
    return static_cast<std::uint32_t>(c[2]) << 24 | c[3] << 16 | c[4] << 8 | c[5];
}

scripted_answer answer_with_sectors(const recorded_request& request) {
    bytes data(request.length);
    const std::uint32_t first = address_of(request);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] =
            sample_byte(first + static_cast<std::uint32_t>(i / sector_bytes), i % sector_bytes);
    }
    return scripted_answer::completed(data);
}

bytes expected_sectors(std::uint32_t first, std::uint32_t end) {
    bytes data;
    for (std::uint32_t s = first; s < end; ++s) {
        for (std::size_t i = 0; i < sector_bytes; ++i) {
            data.push_back(sample_byte(s, i));
        }
    }
    return data;
}

// A clock that moves on by a fixed step at every reading.
struct stepping_clock {
    std::int64_t now = 0;
    std::int64_t step = 0;
    int readings = 0;
    std::int64_t operator()() {
        ++readings;
        return now += step;
    }
};

struct loop_fixture : ::testing::Test {
    fake_drive drive;
    read_mode_state mode;
    transfer_progress progress;
    temp_dir dir;
    std::string out_path = (dir / "out.raw").string();

    void SetUp() override {
        set_program_name("vorka");
        drive.script->otherwise(answer_with_sectors);
    }

    run_result extract(int read_size, std::int64_t first, std::int64_t end, int verbosity = 0,
                       int selection_count = 1, const char* path = nullptr) {
        const int fd =
            ::open(path != nullptr ? path : out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const extraction run{*drive.device, mode, progress, read_size, verbosity, selection_count};
        run_result r = run_captured([&] { extract_range(run, first, end, fd); });
        ::close(fd);
        return r;
    }
};

TEST_F(loop_fixture, empty_or_inverted_range_sends_and_writes_nothing) {
    for (const auto& range : {std::pair{10, 10}, std::pair{10, 9}}) {
        const run_result r = extract(26, range.first, range.second);
        EXPECT_EQ(r.status, 0);
    }
    EXPECT_TRUE(drive.script->requests().empty());
    EXPECT_EQ(progress.transferred_sectors, 0);
    EXPECT_TRUE(read_bytes(out_path).empty());
}

TEST_F(loop_fixture, chunks_are_at_most_the_read_size) {
    const run_result r = extract(26, 100, 127);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(drive.sent(), (lines{"28 00 00 00 00 64 00 00 1a 00 | in 61152",
                                   "28 00 00 00 00 7e 00 00 01 00 | in 2352"}));
    EXPECT_EQ(read_bytes(out_path), expected_sectors(100, 127));
    EXPECT_EQ(progress.transferred_sectors, 27);
}

TEST_F(loop_fixture, the_opcode_in_force_chooses_the_read_form) {
    struct form_case {
        std::uint8_t opcode;
        std::string cdb;
    };
    const form_case cases[] = {
        {0x28, "28 00 00 01 02 03 00 00 05 00"},
        {0xd4, "d4 00 00 01 02 03 00 00 05 00"},
        {0xd8, "d8 00 00 01 02 03 00 00 00 05 00 00"},
        {0xbe, "be 04 00 01 02 03 00 00 05 10 00 00"},
    };
    for (const form_case& c : cases) {
        fake_drive own;
        own.script->otherwise(answer_with_sectors);
        mode.read_opcode = c.opcode;
        const int fd = ::open("/dev/null", O_WRONLY);
        const extraction run{*own.device, mode, progress, 26, 0, 1};
        run_captured([&] { extract_range(run, 0x010203, 0x010208, fd); });
        ::close(fd);
        EXPECT_EQ(own.sent(), lines{c.cdb + " | in 11760"});
    }
}

TEST_F(loop_fixture, swapped_samples_leave_with_their_bytes_exchanged) {
    mode.swap_samples = true;
    drive.script->otherwise([](const recorded_request& request) {
        bytes data(request.length, 0);
        data[0] = 1, data[1] = 2, data[2] = 3, data[3] = 4;
        return scripted_answer::completed(data);
    });
    extract(26, 0, 1);
    const bytes written = read_bytes(out_path);
    ASSERT_EQ(written.size(), sector_bytes);
    EXPECT_EQ(bytes(written.begin(), written.begin() + 4), (bytes{2, 1, 4, 3}));
}

TEST(swap_sample_bytes, every_word_including_an_odd_tail_of_words) {
    bytes data{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    swap_sample_bytes(data.data(), data.size());
    EXPECT_EQ(data, (bytes{2, 1, 4, 3, 6, 5, 8, 7, 10, 9, 12, 11}));
}

TEST_F(loop_fixture, a_failed_write_is_an_error) {
    const run_result r = extract(26, 0, 30, 0, 1, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vorka: write(): No space left on device\n");
    EXPECT_EQ(drive.script->requests().size(), 1u);
}

TEST_F(loop_fixture, a_failed_read_keeps_what_was_written) {
    drive.script->otherwise([](const recorded_request& request) {
        if (address_of(request) >= 52) {
            return scripted_answer::check_condition(3, 0x11, 0);
        }
        return answer_with_sectors(request);
    });
    const run_result r = extract(26, 0, 100);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("error returned from CD-DA read command:\n", 0), 0u) << r.err;
    EXPECT_EQ(read_bytes(out_path), expected_sectors(0, 52));
}

TEST_F(loop_fixture, quiet_loop_reads_the_clock_once) {
    stepping_clock clock{0, 5000000};
    progress.clock = std::ref(clock);
    progress.planned_sectors = 1000;
    const run_result r = extract(26, 0, 1000, 0);
    EXPECT_EQ(clock.readings, 1);
    EXPECT_EQ(r.err, "");
}

TEST_F(loop_fixture, progress_is_checked_every_hundred_sectors_and_shown_after_two_seconds) {
    struct pace_case {
        int sectors;
        int read_size;
        std::int64_t step_us;
        int readings;  // the call's own reading included
        int lines;
    };
    // 520 sectors: with 26 per read the counter passes 100 at every 4th
    // chunk (5 checks); with 1 per read at every 100th (5 checks).
    const pace_case cases[] = {
        {520, 26, 2000001, 6, 5}, {520, 1, 2000001, 6, 5},
        {520, 26, 1000001, 6, 2},                          // every other check
        {104, 26, 2000000, 2, 0},                          // exactly two seconds is not enough
        {104, 26, 2000001, 2, 1}, {99, 1, 9000000, 1, 0},  // the counter never reaches 100
    };
    for (const pace_case& c : cases) {
        fake_drive own;
        own.script->otherwise(answer_with_sectors);
        stepping_clock clock{0, c.step_us};
        transfer_progress totals;
        totals.clock = std::ref(clock);
        totals.planned_sectors = c.sectors;
        const int fd = ::open("/dev/null", O_WRONLY);
        const extraction run{*own.device, mode, totals, c.read_size, 1, 1};
        const run_result r = run_captured([&] { extract_range(run, 0, c.sectors, fd); });
        ::close(fd);
        EXPECT_EQ(clock.readings, c.readings)
            << c.sectors << " " << c.read_size << " " << c.step_us;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\r'), c.lines)
            << c.sectors << " " << c.read_size << " " << c.step_us;
    }
}

TEST(progress_line, worked_figures) {
    transfer_progress totals;
    totals.planned_sectors = 800;
    totals.transferred_sectors = 200;
    totals.run_start_us = 1000000;
    const range_position range{0, 400, 200, 1000000};
    const std::int64_t now = 51000000;
    EXPECT_EQ(progress_line(range, totals, now, true),
              "  track: 50% done, 0:50 to go,  total: 25% done,  2:30 to go\r");
    EXPECT_EQ(progress_line(range, totals, now, false), "  total: 25% done,  2:30 to go\r");
}

TEST(progress_line, remaining_time_is_rounded_to_the_second) {
    transfer_progress totals;
    totals.planned_sectors = 300;
    totals.transferred_sectors = 100;
    totals.run_start_us = 0;
    // 1.25 s for a third: 2.5 s to go rounds up to 3; 1.2 s gives 2.4 s, 2.
    EXPECT_EQ(progress_line({0, 300, 100, 0}, totals, 1250000, false),
              "  total: 33% done,  0:03 to go\r");
    EXPECT_EQ(progress_line({0, 300, 100, 0}, totals, 1200000, false),
              "  total: 33% done,  0:02 to go\r");
}

TEST_F(loop_fixture, progress_in_a_run_of_several_tracks_names_the_track_too) {
    stepping_clock clock{0, 3000000};
    progress.clock = std::ref(clock);
    progress.planned_sectors = 208;
    const run_result r = extract(26, 0, 104, 1, 2);
    // One check, after 104 sectors; the chunk just written began at 78.
    EXPECT_EQ(r.err, "  track: 75% done, 0:01 to go,  total: 50% done,  0:06 to go\r");
}

}  // namespace
