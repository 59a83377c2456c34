// vorka on disc images as people keep them: a cue sheet with WAVE, AIFF or
// FLAC files in any gap layout lists and rips exactly as the BIN image does.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/gap_layouts_test_util.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

class vorka_on_archives : public ::testing::Test {
  protected:
    temp_dir home;

    void SetUp() override {
        const char* source = std::getenv("VORKA_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        fs::copy_file(fs::path(source) / "config" / "vorkarc", home / ".vorkarc");
    }

    run_result vorka(const fs::path& cue, std::vector<std::string> args) const {
        args.insert(args.begin(), {program_path("vorka"), "-d", cue.string()});
        return run_program(args, {"HOME=" + home.path().string()});
    }

    // The listing's rows and each track ripped to a WAV file.
    struct rip {
        std::string listing;
        std::vector<bytes> tracks;
    };

    rip rip_disc(const fs::path& cue, const fs::path& out) const {
        rip result;
        const run_result listed = vorka(cue, {"-iq"});
        EXPECT_EQ(listed.status, 0) << listed.err;
        result.listing = listed.err;
        const run_result ripped =
            vorka(cue, {"-q", "-f", "wav", "-o", (out / "track%02d.%s").string()});
        EXPECT_EQ(ripped.status, 0) << ripped.err;
        for (const char* name : {"track01.wav", "track02.wav", "track03.wav"}) {
            result.tracks.push_back(read_bytes(out / name));
        }
        return result;
    }
};

TEST_F(vorka_on_archives, every_gap_layout_lists_and_rips_like_the_bin_image) {
    temp_dir reference_dir;
    const built_disc reference = build_disc(
        reference_dir.path(), gap_layout_disc(gap_place::one_file, image_file_format::bin));
    const rip expected = rip_disc(reference.cue, reference_dir.path());
    ASSERT_NE(expected.listing, "");
    const struct {
        gap_place place;
        image_file_format format;
        const char* what;
    } layouts[] = {
        {gap_place::one_file, image_file_format::wav, "one WAVE file"},
        {gap_place::own_file, image_file_format::wav, "WAVE files, gaps at their starts"},
        {gap_place::previous_file, image_file_format::aiff, "AIFF files, gaps appended"},
        {gap_place::pregap, image_file_format::wav, "WAVE files, gaps left out"},
        {gap_place::pregap_one_file, image_file_format::aiff, "one AIFF file, gaps left out"},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.what);
        temp_dir dir;
        const built_disc disc =
            build_disc(dir.path(), gap_layout_disc(layout.place, layout.format));
        const rip got = rip_disc(disc.cue, dir.path());
        EXPECT_EQ(got.listing, expected.listing);
        EXPECT_TRUE(got.tracks == expected.tracks);
    }
}

TEST_F(vorka_on_archives, hidden_audio_before_track_one_rips_by_sector_range) {
    temp_dir dir;
    disc_spec spec = gap_layout_disc(gap_place::previous_file, image_file_format::wav);
    spec.silent_gaps = false;
    const built_disc disc = build_disc(dir.path(), spec);
    const run_result r =
        vorka(disc.cue, {"-q", "-s", "0", "-e", "199", "-o", (dir / "hidden.%s").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    bytes expected(200 * 2352);
    for (std::uint32_t lba = 0; lba < 200; ++lba) {
        expected_raw_sector(disc, lba, expected.data() + lba * 2352);
    }
    EXPECT_TRUE(read_bytes(dir / "hidden.raw") == expected);
}

}  // namespace
