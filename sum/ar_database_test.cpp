#include "sum/ar_database.h"

#include <gtest/gtest.h>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "sum/sum_test_util.h"

namespace {

const accuraterip_ids disc = {3, 0x00017ed0, 0x00050529, 0x10029a03};

bool parse(const std::string& bytes, std::vector<ar_block>& blocks, std::string& error) {
    return parse_ar_entry({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, disc,
                          blocks, error);
}

}  // namespace

TEST(ar_entry, reads_every_block_and_sums_the_confidence_of_matching_checksums) {
    // A v1 block, a v2 block and a block of another pressing that shares
    // track 1's v1 checksum.
    const std::string bytes = ar_block_bytes(disc, {{12, 0x111}, {12, 0x222}, {11, 0x333}}) +
                              ar_block_bytes(disc, {{5, 0xaaa}, {4, 0xbbb}, {5, 0xccc}}) +
                              ar_block_bytes(disc, {{2, 0x111}, {2, 0x999}, {200, 0x888}});
    std::vector<ar_block> blocks;
    std::string error;
    ASSERT_TRUE(parse(bytes, blocks, error)) << error;
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[2].tracks[2].confidence, 200u);
    EXPECT_EQ(blocks[2].tracks[2].checksum, 0x888u);
    EXPECT_EQ(blocks[2].tracks[2].frame450, 0x45045045u);

    const struct {
        int track;
        std::uint32_t v1, v2;
        std::uint32_t v1_confidence, v2_confidence;
    } cases[] = {
        {1, 0x111, 0xaaa, 14, 5},   // v1 in two blocks, v2 in one
        {2, 0x222, 0x123, 12, 0},   // v1 only
        {3, 0x321, 0xccc, 0, 5},    // v2 only
        {3, 0x333, 0x333, 11, 11},  // one stored value equal to both sums
        {2, 0xbbb, 0x222, 4, 12},   // each sum is compared with every block
        {1, 0x222, 0x333, 0, 0},    // another track's checksums
    };
    for (const auto& c : cases) {
        const ar_match match = match_track(blocks, c.track, c.v1, c.v2);
        EXPECT_EQ(match.v1_confidence, c.v1_confidence) << "track " << c.track;
        EXPECT_EQ(match.v2_confidence, c.v2_confidence) << "track " << c.track;
        EXPECT_EQ(match.matched(), c.v1_confidence + c.v2_confidence > 0);
    }
    EXPECT_TRUE(stores_checksum(blocks, 3, 0x888));
    EXPECT_FALSE(stores_checksum(blocks, 2, 0x888));
}

TEST(ar_entry, refuses_empty_truncated_and_foreign_entries) {
    const std::string good = ar_block_bytes(disc, {{1, 1}, {1, 2}, {1, 3}});
    accuraterip_ids other = disc;
    other.id2 += 1;
    accuraterip_ids fewer = disc;
    fewer.audio_tracks = 2;
    const struct {
        std::string bytes;
        const char* error;
    } cases[] = {
        {"", "the AccurateRip entry is empty"},
        {good.substr(0, 30),
         "the AccurateRip entry is truncated: the block at byte 0 needs 40 bytes, 30 are left"},
        {good + good.substr(0, 5),
         "the AccurateRip entry is truncated: the block at byte 40 needs 40 bytes, 5 are left"},
        {good + ar_block_bytes(other, {{1, 1}, {1, 2}, {1, 3}}),
         "the AccurateRip entry is for another disc: the block at byte 40 is for "
         "003-00017ed0-0005052a-10029a03, this disc is 003-00017ed0-00050529-10029a03"},
        {ar_block_bytes(fewer, {{1, 1}, {1, 2}}),
         "the AccurateRip entry is for another disc: the block at byte 0 is for "
         "002-00017ed0-00050529-10029a03, this disc is 003-00017ed0-00050529-10029a03"},
        {"<html><body>404 Not Found</body></html>",
         "the AccurateRip entry is truncated: the block at byte 0 needs 553 bytes, 39 are left"},
    };
    for (const auto& c : cases) {
        std::vector<ar_block> blocks;
        std::string error;
        EXPECT_FALSE(parse(c.bytes, blocks, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(ar_entry, a_file_that_cannot_be_read_ends_the_run_naming_it) {
    set_program_name("vorkasum");
    temp_dir dir;
    const std::string missing = dir / "dBAR-missing.bin";
    run_result run = run_captured([&] { load_ar_entry(missing, disc); });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: " + missing + ": No such file or directory\n");

    const std::string cut = dir / "dBAR-cut.bin";
    write_file(cut, ar_block_bytes(disc, {{1, 1}, {1, 2}, {1, 3}}).substr(0, 39));
    run = run_captured([&] { load_ar_entry(cut, disc); });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: " + cut +
                           ": the AccurateRip entry is truncated: the block at byte 0 needs 40 "
                           "bytes, 39 are left\n");
}
