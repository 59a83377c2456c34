#include "scsi/offset_correction.h"

#include <gtest/gtest.h>

#include <set>

#include "common/program_name.h"
#include "scsi/fake_drive_test_util.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// Every byte tells where on the disc it lies.
std::uint8_t disc_byte(std::int64_t position) {
    const std::int64_t sector = position / static_cast<std::int64_t>(sector_bytes);
    const std::int64_t offset = position % static_cast<std::int64_t>(sector_bytes);
    return static_cast<std::uint8_t>(offset % 2 == 0 ? sector : offset / 2);
}

std::uint32_t address_of(const recorded_request& request) {
    const auto& c = request.cdb;
    return static_cast<std::uint32_t>(c[2]) << 24 | c[3] << 16 | c[4] << 8 | c[5];
}

scripted_answer disc_sectors(const recorded_request& request) {
    bytes data(request.length);
    const std::int64_t first = address_of(request) * static_cast<std::int64_t>(sector_bytes);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = disc_byte(first + static_cast<std::int64_t>(i));
    }
    return scripted_answer::completed(data);
}

// What a corrected read of the sectors first..end must give: disc sample
// p + c at p, zeros outside the area.
bytes corrected(std::int64_t first, std::int64_t end, int c, std::int64_t area_first,
                std::int64_t area_end) {
    bytes data;
    const auto sector = static_cast<std::int64_t>(sector_bytes);
    for (std::int64_t at = first * sector; at < end * sector; ++at) {
        const std::int64_t source = at + 4 * std::int64_t{c};
        const bool inside = source >= area_first * sector && source < area_end * sector;
        data.push_back(inside ? disc_byte(source) : 0);
    }
    return data;
}

struct correction_fixture : ::testing::Test {
    fake_drive drive;
    read_mode_state mode;

    void SetUp() override {
        set_program_name("vorka");
        mode.read_opcode = 0xbe;
        drive.script->otherwise(disc_sectors);
    }

    bytes read(offset_correction& correction, std::int64_t first, std::int64_t end, int size) {
        bytes out;
        for (std::int64_t at = first; at < end; at += size) {
            const int count = static_cast<int>(std::min<std::int64_t>(size, end - at));
            const std::uint8_t* chunk = correction.read_chunk(*drive.device, mode, at, count);
            out.insert(out.end(), chunk, chunk + static_cast<std::size_t>(count) * sector_bytes);
        }
        return out;
    }

    // The requests from the mark on, as the command log writes them.
    std::vector<std::string> sent_since(std::size_t mark) {
        const std::vector<std::string> all = drive.sent();
        return {all.begin() + static_cast<std::ptrdiff_t>(mark), all.end()};
    }

    // Every sector the drive was asked for from the mark on.
    std::vector<std::uint32_t> sectors_read(std::size_t mark) {
        std::vector<std::uint32_t> all;
        const auto& requests = drive.script->requests();
        for (std::size_t r = mark; r < requests.size(); ++r) {
            const recorded_request& request = requests[r];
            const std::uint32_t first = address_of(request);
            for (std::uint32_t i = 0; i < request.length / sector_bytes; ++i) {
                all.push_back(first + i);
            }
        }
        return all;
    }
};

// Two tracks one after the other, 0..10 and 10..37, on a disc whose audio
// area is sectors 0..37.
TEST_F(correction_fixture, tracks_read_on_as_one_stream_with_each_sector_once) {
    for (const int c : {6, 667, -54, -1164, 588, -588, 587}) {
        for (const int size : {1, 4, 26}) {
            SCOPED_TRACE(testing::Message() << "c " << c << ", read size " << size);
            const std::size_t mark = drive.script->requests().size();
            offset_correction correction(c);
            correction.set_area(0, 37, 0, 10);
            const bytes first = read(correction, 0, 10, size);
            correction.set_area(0, 37, 10, 37);
            const bytes second = read(correction, 10, 37, size);
            EXPECT_EQ(first, corrected(0, 10, c, 0, 37));
            EXPECT_EQ(second, corrected(10, 37, c, 0, 37));
            // Nothing outside the area, nothing twice, nothing left out.
            const std::vector<std::uint32_t> sectors = sectors_read(mark);
            const std::set<std::uint32_t> once(sectors.begin(), sectors.end());
            EXPECT_EQ(once.size(), sectors.size());
            const std::int64_t q = c >= 0 ? c / 588 : -((-c + 587) / 588);
            const std::int64_t from = std::max<std::int64_t>(0, q);
            const std::int64_t to = std::min<std::int64_t>(37, 37 + q + (c % 588 != 0 ? 1 : 0));
            ASSERT_FALSE(once.empty());
            EXPECT_EQ(*once.begin(), from);
            EXPECT_EQ(*once.rbegin(), to - 1);
            EXPECT_EQ(static_cast<std::int64_t>(once.size()), to - from);
        }
    }
}

TEST_F(correction_fixture, a_range_elsewhere_starts_with_the_sector_it_needs_first) {
    offset_correction correction(667);  // one sector and 79 samples
    correction.set_area(0, 100, 10, 20);
    EXPECT_EQ(read(correction, 10, 20, 26), corrected(10, 20, 667, 0, 100));
    std::size_t mark = drive.script->requests().size();
    correction.set_area(0, 100, 50, 60);
    EXPECT_EQ(read(correction, 50, 60, 26), corrected(50, 60, 667, 0, 100));
    EXPECT_EQ(sent_since(mark),
              (std::vector<std::string>{"be 04 00 00 00 33 00 00 01 10 00 00 | in 2352",
                                        "be 04 00 00 00 34 00 00 0a 10 00 00 | in 23520"}));
    // After a read the correction did not make, nothing is carried on.
    mark = drive.script->requests().size();
    correction.forget();
    correction.set_area(0, 100, 60, 61);
    read(correction, 60, 61, 26);
    EXPECT_EQ(sent_since(mark).size(), 2u);
}

TEST_F(correction_fixture, samples_outside_the_area_are_counted) {
    struct row {
        int c;
        std::int64_t area_first, area_end, first, end;
        std::int64_t outside;
    };
    const row rows[] = {
        {667, 0, 100, 0, 100, 667},     // past the lead-out
        {-1164, 0, 100, 0, 100, 1164},  // before the first sample
        {-54, 0, 100, 10, 20, 0},       // inside
        {6, 0, 100, 90, 95, 0},
        {6, 0, 100, 95, 100, 6},
        {6, 0, 50, 60, 70, 6},  // a range beyond the area is read as asked, but no further
    };
    for (const row& r : rows) {
        offset_correction correction(r.c);
        correction.set_area(r.area_first, r.area_end, r.first, r.end);
        EXPECT_EQ(correction.samples_outside_area(r.first, r.end), r.outside) << r.c;
    }
}

}  // namespace
