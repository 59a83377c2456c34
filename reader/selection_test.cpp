#include "reader/selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "common/program_name.h"

namespace {

const std::string format_lines =
    "Track list format:  a | a,b | [a]-[b] ...\nExample:  -3,5,8-10,12-\n";

std::vector<int> numbers(int first, int last) {
    std::vector<int> result;
    for (int n = first; n <= last; ++n) {
        result.push_back(n);
    }
    return result;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<int> selected_tracks(const track_selection& selection) {
    std::vector<int> tracks;
    for (int i = 0; i < selection.count; ++i) {
        tracks.push_back(selection.indexes[static_cast<std::size_t>(i)] + 1);
    }
    return tracks;
}

}  // namespace

class selection : public ::testing::Test {
  protected:
    void SetUp() override { set_program_name("vorka"); }
};

TEST_F(selection, track_lists_select_in_the_order_given) {
    const struct {
        const char* list;
        std::vector<int> tracks;
    } cases[] = {
        {"1-100", numbers(1, 100)},
        {"-3,5,8-10,12-", numbers(1, 3) + std::vector{5} + numbers(8, 10) + numbers(12, 100)},
        {"3-1", {}},
        {"-0", {}},
        {"1,1,1", {1, 1, 1}},
        {"5,,7", {5, 1, 7}},
        {"5,", {5, 1}},
        {",5", {1, 5}},
        {"", {1}},
        {"-", numbers(1, 100)},
        {"12-", numbers(12, 100)},
        {"150", {150}},
        {"007", {7}},
        {"1-99,5", numbers(1, 99) + std::vector{5}},
        {"1-3,2", {1, 2, 3, 2}},
        // Numbers beyond 32 bits stay at the largest track number: never a
        // negative index, and an open range still ends at the table's size.
        {"99999999999", {2147483647}},
        {"4294967297", {2147483647}},
        {"99999999999-5", {}},
    };
    for (const auto& c : cases) {
        reader_settings settings;
        settings.track_list = c.list;
        track_selection result;
        const auto run = run_captured([&] { make_track_selection(settings, result); });
        EXPECT_EQ(run.status, 0) << c.list << run.err;
        EXPECT_EQ(selected_tracks(result), c.tracks) << c.list;
    }
}

TEST_F(selection, faulty_track_lists_end_the_run) {
    const struct {
        const char* list;
        std::string err;
        int count_before;  // tracks appended before the error
    } cases[] = {
        {"1-100,5", "vorka: Too many tracks specified (maximum is 100).\n", 100},
        {"95-200", "vorka: Too many tracks specified (maximum is 100).\n", 100},
        {"99-99999999999", "vorka: Too many tracks specified (maximum is 100).\n", 100},
        {"0", "vorka: Syntax error in track list.\n" + format_lines, 0},
        {"0-3", "vorka: Syntax error in track list.\n" + format_lines, 0},
        {"1-2-3", "vorka: Syntax error in track list.\n" + format_lines, 0},
        {"0,a", "vorka: Syntax error in track list.\n" + format_lines, 0},
        {"a,0", "vorka: Illegal character \"a\" in track list.\n" + format_lines, 0},
        {"1 2", "vorka: Illegal character \" \" in track list.\n" + format_lines, 0},
        {"3,+4", "vorka: Illegal character \"+\" in track list.\n" + format_lines, 1},
    };
    for (const auto& c : cases) {
        reader_settings settings;
        settings.track_list = c.list;
        track_selection result;
        const auto run = run_captured([&] { make_track_selection(settings, result); });
        EXPECT_EQ(run.status, 1) << c.list;
        EXPECT_EQ(run.err, c.err) << c.list;
        EXPECT_EQ(result.count, c.count_before) << c.list;
        for (int i = 0; i < result.count; ++i) {
            EXPECT_GE(result.indexes[static_cast<std::size_t>(i)], 0) << c.list;
        }
    }
}

TEST_F(selection, sector_ranges_need_both_ends_in_order) {
    const struct {
        std::int32_t start;
        std::int64_t end;
        int status;
        const char* err;
        std::int64_t end_after;
    } cases[] = {
        {0, 0, 0, "", 1},
        {10, 20, 0, "", 21},
        {2147483647, 2147483647, 0, "", 2147483648LL},
        {5, -1, 1, "vorka: -s and -e must be used together.\n", -1},
        {-1, 5, 1, "vorka: -s and -e must be used together.\n", 5},
        {10, 9, 1, "vorka: end sector must not be smaller than start sector.\n", 9},
        {-5, -5, 0, "", -5},  // negative counts as not given: the track list is used
    };
    for (const auto& c : cases) {
        reader_settings settings;
        settings.track_list = "x";  // never read in sector-range mode
        if (c.start == -5) {
            settings.track_list = "1";
        }
        settings.start_sector = c.start;
        settings.end_sector = c.end;
        track_selection result;
        const auto run = run_captured([&] { make_track_selection(settings, result); });
        EXPECT_EQ(run.status, c.status) << c.start << " " << c.end;
        EXPECT_EQ(run.err, c.err) << c.start << " " << c.end;
        EXPECT_EQ(settings.end_sector, c.end_after) << c.start << " " << c.end;
        if (c.status == 0) {
            EXPECT_EQ(result.count, 1);
        }
    }
}
