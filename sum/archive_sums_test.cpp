// vorkasum on a rip kept as FLAC files with a cue sheet, against the same
// rip kept as WAV files: the same identifiers and checksums.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/gap_layouts_test_util.h"

namespace {

namespace fs = std::filesystem;

TEST(vorkasum_on_archives, flac_and_wav_images_of_one_disc_give_the_same_sums) {
    temp_dir dir;
    const char* source = std::getenv("VORKA_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    fs::copy_file(fs::path(source) / "config" / "vorkarc", dir / ".vorkarc");
    std::vector<std::string> printed;
    std::vector<std::string> rips;
    for (const char* kind : {"wav", "flac"}) {
        SCOPED_TRACE(kind);
        const fs::path folder = dir / kind;
        fs::create_directory(folder);
        disc_spec spec = gap_layout_disc(gap_place::previous_file, image_file_format::wav);
        spec.audio = audio_content::music;
        const built_disc disc = build_disc(folder, spec);
        if (std::string(kind) == "flac") {
            compress_to_flac(disc, flac_naming::wave_type);
        }
        const std::string cue = disc.cue.string();
        const run_result ripped = run_program(
            {"vorka", "-q", "-d", cue, "-f", "wav", "-o", (folder / "rip%02d.%s").string()},
            {"HOME=" + dir.path().string()});
        ASSERT_EQ(ripped.status, 0) << ripped.err;
        const std::vector<std::string> files = {(folder / "rip01.wav").string(),
                                                (folder / "rip02.wav").string(),
                                                (folder / "rip03.wav").string()};
        std::string audio;
        for (const std::string& file : files) {
            audio += read_file(file);
        }
        rips.push_back(audio);
        const run_result summed =
            run_program({"vorkasum", "-d", cue, files[0], files[1], files[2]});
        ASSERT_EQ(summed.status, 0) << summed.err;
        std::string out = summed.out;
        for (std::size_t at = out.find(folder.string()); at != std::string::npos;
             at = out.find(folder.string(), at)) {
            out.replace(at, folder.string().size(), "<folder>");
        }
        printed.push_back(out);
    }
    EXPECT_TRUE(rips[0] == rips[1]);
    EXPECT_NE(printed[0].find("accuraterip 003-"), std::string::npos) << printed[0];
    EXPECT_EQ(printed[0], printed[1]);
}

}  // namespace
