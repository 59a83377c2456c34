// The built vorka on drives with a read offset, and on enhanced CDs (an
// audio session, then a data session).

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "output/headers.h"
#include "reader/end_to_end_test_util.h"

namespace {

// Three audio tracks; the disc as an AccurateRip-style check sees it.
disc_spec three_track_disc() {
    disc_spec spec;
    spec.tracks = {{.sectors = 40}, {.sectors = 30}, {.sectors = 50, .new_file = true}};
    return spec;
}

class vorka_with_offset : public vorka_on_image {
  protected:
    void SetUp() override {
        vorka_on_image::SetUp();
        fs::create_directory(work / "three");
        disc = build_disc(work / "three", three_track_disc());
    }

    // What a corrected rip of the sectors first..end holds: the disc's own
    // samples, zeros where the correction would need samples from outside
    // the disc's audio (0 .. audio_end).
    bytes corrected(std::uint32_t first, std::uint32_t end, int c, std::uint32_t audio_end) const {
        const bytes disc_audio = sectors(0, audio_end);
        bytes out(std::size_t{end - first} * 2352, 0);
        for (std::size_t i = 0; i < out.size() / 4; ++i) {
            const std::int64_t p = std::int64_t{first} * 588 + std::int64_t(i);
            const std::int64_t source = p + c;
            if (source >= 0 && source < std::int64_t{audio_end} * 588) {
                std::memcpy(out.data() + i * 4, disc_audio.data() + p * 4, 4);
            }
        }
        return out;
    }

    bytes wav(const bytes& audio) const { return as_bytes(make_wav_header(audio.size())) + audio; }

    std::string track_file(const std::string& prefix, int track) const {
        return out(prefix + "0" + std::to_string(track) + ".wav");
    }
};

TEST_F(vorka_with_offset, corrected_rips_hold_the_discs_samples) {
    const fs::path shipped = fs::path(std::getenv("VORKA_SOURCE_DIR")) / "config" / "vorkarc";
    for (const int c : {6, 667, -54, -1164}) {
        SCOPED_TRACE(c);
        fs::copy_file(shipped, home / ".vorkarc", fs::copy_options::overwrite_existing);
        const std::string drive = "VORKA_IMAGE_READ_OFFSET=" + std::to_string(c);
        // By -O, overriding the entry's 0; by the entry's tenth field.
        const run_result by_option =
            vorka({"-q", "-f", "wav", "-O", std::to_string(c), "-o", out("o%02d.%s")}, {drive});
        EXPECT_EQ(by_option.status, 0) << by_option.err;
        EXPECT_EQ(by_option.err,
                  "vorka: Warning: Overriding read offset correction of 0 samples.\n");
        use_entry("0xBE 0 0 0 26 0 " + std::to_string(c));
        const run_result by_entry = vorka({"-q", "-f", "wav", "-o", out("e%02d.%s")}, {drive});
        EXPECT_EQ(by_entry.status, 0) << by_entry.err;
        EXPECT_EQ(by_entry.err, "");
        const run_result uncorrected =
            vorka({"-q", "-f", "wav", "-O", "0", "-o", out("u%02d.%s")}, {drive});
        EXPECT_EQ(uncorrected.status, 0);
        for (int t = 1; t <= 3; ++t) {
            SCOPED_TRACE(t);
            const bytes expected =
                wav(corrected(disc.starts[t - 1], t < 3 ? disc.starts[t] : disc.leadout, c, 120));
            EXPECT_EQ(read_bytes(track_file("o", t)), expected);
            EXPECT_EQ(read_bytes(track_file("e", t)), expected);
            EXPECT_NE(read_bytes(track_file("u", t)), expected);
        }
        // The files of two drives with different offsets are the same but
        // for the samples each had to fill at the disc's edge.
        EXPECT_EQ(read_bytes(track_file("e", 2)), wav(track(2)));
    }
}

TEST_F(vorka_with_offset, one_stream_and_a_sector_range_are_corrected_too) {
    const std::vector<std::string> drive = {"VORKA_IMAGE_READ_OFFSET=-667"};
    run_result r = vorka({"-q", "-O", "-667", "-o", "-"}, drive);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(bytes(r.out.begin(), r.out.end()), corrected(0, 120, -667, 120));
    r = vorka({"-q", "-O", "-667", "-s", "35", "-e", "44", "-o", out("range.raw")}, drive);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_bytes(out("range.raw")), corrected(35, 45, -667, 120));
}

// The listing and the statistics are those of an uncorrected run; the
// correction is named after the device line and, with -v, the samples it
// filled.
TEST_F(vorka_with_offset, the_listing_is_unchanged_and_the_correction_named) {
    const run_result plain = vorka({"-o", "/dev/null", "-t", "2-3"});
    use_entry("0xBE 0 0 0 26 0 +667");
    const run_result shown = vorka({"-o", "/dev/null", "-t", "2-3"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    const std::string device_line =
        "Device: " + disc.cue.string() + " -- \"VORKA\" \"CD IMAGE\" \"1.0\"\n";
    const std::string named = device_line + "Read offset correction: +667 samples\n";
    EXPECT_EQ(shown.err.substr(0, named.size()), named);
    const std::size_t listing_end = plain.err.find("Transferred");
    const std::string listing =
        plain.err.substr(device_line.size(), listing_end - device_line.size());
    EXPECT_EQ(shown.err.substr(named.size(), listing.size()), listing);

    const run_result verbose = vorka({"-v", "-o", "/dev/null"});
    EXPECT_NE(verbose.err.find(wipe + "Read offset correction: 667 samples outside the audio "
                                      "area filled with silence.\nTransferred "),
              std::string::npos)
        << verbose.err;
    EXPECT_EQ(vorka({"-o", "/dev/null", "-O", "5881"}).err,
              device_line +
                  "vorka: Warning: Overriding read offset correction of 667 samples.\n"
                  "vorka: Error: Read offset correction must be between -5880 and "
                  "5880 samples.\n");
}

// Audio tracks 1 and 2 in the first session, a data track in the second.
disc_spec enhanced_cd() {
    disc_spec spec;
    spec.tracks = {
        {.sectors = 60},
        {.sectors = 45},
        {.mode = track_mode::mode2_2352, .sectors = 30, .new_file = true, .new_session = true}};
    return spec;
}

class vorka_on_enhanced_cd : public vorka_with_offset {
  protected:
    void SetUp() override {
        vorka_on_image::SetUp();
        fs::create_directory(work / "enhanced");
        disc = build_disc(work / "enhanced", enhanced_cd());
    }
};

TEST_F(vorka_on_enhanced_cd, the_last_audio_track_ends_at_its_sessions_lead_out) {
    ASSERT_EQ(disc.starts, (std::vector<std::uint32_t>{0, 60, 11505}));
    ASSERT_EQ(disc.session_leadouts[0], 105u);
    for (const char* kind : {"scsi", "atapi", "mmc"}) {
        SCOPED_TRACE(kind);
        const std::string log = out("scsi.log");
        fs::remove(log);
        const run_result r =
            vorka({"-t", "1-3", "-f", "wav", "-o", out("t%02d.%s")},
                  {std::string("VORKA_IMAGE_DRIVE=") + kind, "VORKA_SCSI_LOG=" + log});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("    2    0:00'45      60     104     105840"), std::string::npos)
            << r.err;
        EXPECT_EQ(read_bytes(track_file("t", 1)), wav(track(1)));
        EXPECT_EQ(read_bytes(track_file("t", 2)), wav(sectors(60, 105)));
        EXPECT_EQ(read_bytes(out("t03.wav")), wav(sectors(11505, 11535)));
        const std::string commands = read_file(log);
        EXPECT_NE(commands.find("43 00 01 00 00 00 00 00 0c 00 | in 12 | ok\n"
                                "43 02 02 00 00 00 01 08 00 00 | in 2048 | ok\n"),
                  std::string::npos)
            << commands;
    }
    // The single stream ends the audio there too; with a read offset the
    // samples past the session's lead-out are zeros, never read.
    const run_result r =
        vorka({"-q", "-t", "1-2", "-O", "6", "-o", "-"}, {"VORKA_IMAGE_READ_OFFSET=6"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bytes(r.out.begin(), r.out.end()), corrected(0, 105, 6, 105));
}

}  // namespace
