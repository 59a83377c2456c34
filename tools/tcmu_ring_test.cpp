#include "tools/tcmu_ring.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/disc_builder.h"
#include "image/emulated_drive.h"
#include "tools/tcmu_layout.h"

namespace {

const tcmu_layout& layout = tcmu_kernel_layout;
constexpr std::uint32_t op_pad = 0;  // the kernel's entry kinds
constexpr std::uint32_t op_cmd = 1;
constexpr std::uint32_t op_tmr = 2;

using bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t ring_offset = 128;
constexpr std::uint32_t ring_size = 2048;
constexpr std::size_t data_offset = ring_offset + ring_size;
constexpr std::size_t region_size = data_offset + 64 * 2352;

// A shared memory region laid out as the kernel lays it out: the mailbox,
// the command ring, then the data area.  Entries are put at the ring's head
// the way the kernel puts them, with the CDB right after the buffer list.
class ring_memory {
  public:
    ring_memory() : region_(region_size, 0) {
        const std::uint16_t version = 2;
        std::memcpy(at(layout.version_at), &version, 2);
        std::memcpy(at(layout.ring_offset_at), &ring_offset, 4);
        std::memcpy(at(layout.ring_size_at), &ring_size, 4);
    }

    std::span<std::uint8_t> region() { return region_; }
    std::uint8_t* at(std::size_t offset) { return region_.data() + offset; }
    std::uint32_t word(std::size_t offset) {
        std::uint32_t value;
        std::memcpy(&value, at(offset), 4);
        return value;
    }
    void set_word(std::size_t offset, std::uint32_t value) { std::memcpy(at(offset), &value, 4); }
    std::uint32_t head() { return word(layout.head_at); }
    std::uint32_t tail() { return word(layout.tail_at); }
    // Starts the ring (head and tail) at a position, as after earlier commands.
    void start_at(std::uint32_t position) {
        set_word(layout.head_at, position);
        set_word(layout.tail_at, position);
    }

    // A command whose data phase is split into buffers of the given lengths,
    // laid out one after another from the start of the data area (plus a
    // gap between them, so that the handler must follow each offset).  The
    // CDB bytes are written as given, followed by 0xff filler.  Returns the
    // entry's offset in the region.
    std::size_t push_command(const bytes& cdb, const std::vector<std::size_t>& buffers,
                             const bytes& data_out = {}) {
        const std::size_t iov_at = layout.iov_at;
        const std::size_t cdb_at = iov_at + buffers.size() * layout.iovec_bytes;
        const std::size_t length = std::max(layout.entry_bytes, (cdb_at + 16 + 7) / 8 * 8);
        const std::size_t entry = push_header(op_cmd, static_cast<std::uint32_t>(length));
        set_word(entry + layout.iov_count_at, static_cast<std::uint32_t>(buffers.size()));
        std::uint64_t offset = data_offset;
        std::size_t taken = 0;
        buffers_.clear();
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            const std::uint64_t len = buffers[i];
            std::memcpy(at(entry + iov_at + i * layout.iovec_bytes + layout.iov_base_at), &offset,
                        8);
            std::memcpy(at(entry + iov_at + i * layout.iovec_bytes + layout.iov_len_at), &len, 8);
            std::memset(at(offset), 0xee, len);
            for (std::size_t b = 0; b < len && taken + b < data_out.size(); ++b) {
                *at(offset + b) = data_out[taken + b];
            }
            buffers_.emplace_back(offset, len);
            taken += len;
            offset += len + 512;
        }
        const std::uint64_t cdb_offset = entry + cdb_at;
        std::memcpy(at(entry + layout.cdb_offset_at), &cdb_offset, 8);
        std::memset(at(cdb_offset), 0xff, 16);
        std::memcpy(at(cdb_offset), cdb.data(), cdb.size());
        return entry;
    }

    std::size_t push_header(std::uint32_t op, std::uint32_t length) {
        const std::size_t entry = ring_offset + head();
        std::memset(at(entry), 0, length);
        set_word(entry, length | op);
        set_word(layout.head_at, (head() + length) % ring_size);
        return entry;
    }

    // The data phase of the last command pushed, gathered from its buffers.
    bytes data() {
        bytes out;
        for (const auto& [offset, length] : buffers_) {
            out.insert(out.end(), at(offset), at(offset + length));
        }
        return out;
    }

    std::uint8_t status(std::size_t entry) { return *at(entry + layout.status_at); }
    // Key, ASC and ASCQ of the sense data in the entry's answer.
    std::array<int, 3> sense(std::size_t entry) {
        const std::uint8_t* s = at(entry + layout.sense_at);
        return {s[2] & 0x0f, s[12], s[13]};
    }

  private:
    bytes region_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> buffers_;
};

class tcmu_ring_test : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("VORKA_IMAGE_MEDIUM_ERRORS");
        disc = build_disc(
            dir.path(),
            {.tracks = {{.sectors = 40}, {.mode = track_mode::mode1_2352, .sectors = 20}}});
        passthrough_open_result opened = open_emulated_drive(disc.cue.string());
        ASSERT_NE(opened.device, nullptr) << opened.error;
        drive = std::move(opened.device);
        std::string error;
        ASSERT_TRUE(ring.attach(memory.region(), error)) << error;
    }

    // Serves what the ring holds; every entry must be consumed.
    void serve(long expected_entries) {
        std::string error;
        const tcmu_ring::observer observe = [this](const scsi_request& r, const scsi_outcome&) {
            seen.emplace_back(r.cdb.begin(), r.cdb.end());
            directions.push_back(r.direction);
        };
        EXPECT_EQ(ring.serve(*drive, observe, error), expected_entries) << error;
        EXPECT_EQ(memory.tail(), memory.head());
    }

    bytes raw_sectors(std::uint32_t lba, std::uint32_t count) {
        bytes out(std::size_t{count} * 2352);
        for (std::uint32_t i = 0; i < count; ++i) {
            expected_raw_sector(disc, lba + i, out.data() + std::size_t{i} * 2352);
        }
        return out;
    }

    temp_dir dir;
    built_disc disc;
    std::unique_ptr<passthrough> drive;
    ring_memory memory;
    tcmu_ring ring;
    std::vector<bytes> seen;
    std::vector<data_direction> directions;
};

TEST_F(tcmu_ring_test, data_in_is_scattered_over_the_buffers) {
    const std::size_t entry = memory.push_command({0x12, 0, 0, 0, 36, 0}, {16, 20});
    serve(1);
    EXPECT_EQ(memory.status(entry), 0x00);
    const bytes data = memory.data();
    EXPECT_EQ(data[0], 0x05);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 32), "VORKA   CD IMAGE        ");
    EXPECT_EQ(directions, (std::vector<data_direction>{data_direction::in}));
}

TEST_F(tcmu_ring_test, data_out_is_gathered_from_the_buffers) {
    const bytes list{0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30};
    memory.push_command({0x15, 0x10, 0, 0, 12, 0}, {5, 7}, list);
    serve(1);
    const std::size_t entry = memory.push_command({0x1a, 0, 0x01, 0, 12, 0}, {12});
    serve(1);
    EXPECT_EQ(memory.status(entry), 0x00);
    EXPECT_EQ(memory.data(), (bytes{11, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30}));
    EXPECT_EQ(directions, (std::vector<data_direction>{data_direction::out, data_direction::in}));
}

// The kernel copies 10 bytes of the 12-byte vendor read; the bytes after
// them in the ring (0xff here) are not part of the command.
TEST_F(tcmu_ring_test, vendor_read_arrives_with_ten_bytes) {
    const std::size_t entry =
        memory.push_command({0xd8, 0, 0, 0, 0, 5, 0, 0, 0, 3}, {2352, 2 * 2352});
    serve(1);
    EXPECT_EQ(memory.status(entry), 0x00);
    EXPECT_EQ(memory.data(), raw_sectors(5, 3));
    EXPECT_EQ(seen, (std::vector<bytes>{{0xd8, 0, 0, 0, 0, 5, 0, 0, 0, 3, 0, 0}}));
}

TEST_F(tcmu_ring_test, check_condition_carries_the_sense_and_no_data) {
    struct row {
        const char* what;
        bytes cdb;
        std::size_t length;
        std::array<int, 3> sense;
    };
    const row rows[] = {
        {"past the lead-out",
         {0xbe, 0x04, 0, 0, 0, 59, 0, 0, 2, 0x10, 0, 0},
         2 * 2352,
         {5, 0x21, 0}},
        {"audio read of a data sector",
         {0xbe, 0x04, 0, 0, 0, 45, 0, 0, 1, 0x10, 0, 0},
         2352,
         {5, 0x64, 0}},
        {"buffer too small for the sectors",
         {0xbe, 0x04, 0, 0, 0, 0, 0, 0, 2, 0x10, 0, 0},
         2352,
         {0xb, 0x4b, 0}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::size_t entry = memory.push_command(r.cdb, {r.length});
        serve(1);
        EXPECT_EQ(memory.status(entry), 0x02);
        EXPECT_EQ(memory.sense(entry), r.sense);
        EXPECT_EQ(memory.data(), bytes(r.length, 0xee));
    }
}

TEST_F(tcmu_ring_test, padding_and_task_management_are_passed_over_at_the_wrap) {
    memory.start_at(ring_size - 256);
    memory.push_header(op_tmr, 64);
    memory.push_header(op_pad, 192);  // to the end of the ring
    ASSERT_EQ(memory.head(), 0u);
    const std::size_t entry = memory.push_command({0x00, 0, 0, 0, 0, 0}, {});
    serve(3);
    EXPECT_EQ(memory.status(entry), 0x00);
    EXPECT_EQ(seen, (std::vector<bytes>{{0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(directions, (std::vector<data_direction>{data_direction::none}));
}

TEST_F(tcmu_ring_test, entries_that_do_not_fit_are_refused) {
    struct row {
        const char* what;
        std::function<void(ring_memory&)> damage;
        std::string error;
    };
    const row rows[] = {
        {"entry longer than the ring", [](ring_memory& m) { m.push_header(op_cmd, ring_size + 8); },
         "an entry of 2056 bytes does not fit the ring"},
        {"buffer beyond the shared memory",
         [](ring_memory& m) {
             const std::size_t entry = m.push_command({0x12, 0, 0, 0, 36, 0}, {36});
             const std::uint64_t far = region_size - 8;
             std::memcpy(m.at(entry + layout.iov_at), &far, 8);
         },
         "a command's data buffer lies outside the shared memory"},
        {"CDB beyond the shared memory",
         [](ring_memory& m) {
             const std::size_t entry = m.push_command({0x12, 0, 0, 0, 36, 0}, {36});
             const std::uint64_t far = region_size;
             std::memcpy(m.at(entry + layout.cdb_offset_at), &far, 8);
         },
         "a command's CDB lies outside the shared memory"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        ring_memory damaged;
        tcmu_ring fresh;
        std::string error;
        ASSERT_TRUE(fresh.attach(damaged.region(), error));
        r.damage(damaged);
        EXPECT_EQ(fresh.serve(*drive, nullptr, error), -1);
        EXPECT_EQ(error, r.error);
    }
}

TEST(tcmu_ring, mailbox_must_describe_a_ring_inside_the_memory) {
    ring_memory memory;
    tcmu_ring ring;
    std::string error;
    memory.set_word(layout.ring_size_at, region_size);
    EXPECT_FALSE(ring.attach(memory.region(), error));
    EXPECT_EQ(error, "the command ring lies outside the shared memory");
    memory.set_word(layout.ring_size_at, ring_size);
    memory.set_word(layout.version_at, 7);
    EXPECT_FALSE(ring.attach(memory.region(), error));
    EXPECT_EQ(error, "unknown mailbox version 7");
}

}  // namespace
