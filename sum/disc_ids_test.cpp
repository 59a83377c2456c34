#include "sum/disc_ids.h"

#include <discid/discid.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "common/common_test_util.h"
#include "sum/sum_test_util.h"

namespace {

struct disc_case {
    const char* what;
    track_table table;
    const char* freedb;
    const char* accuraterip;
    const char* url_folders;
    const char* musicbrainz;
};

// The values whipper 0.10.0 (Debian's package) gives for the same tables
// of contents; the freedb IDs agree with cd-discid (below).
const disc_case discs[] = {
    {"three audio tracks", make_table({0, 15000, 33000}, 50000), "10029a03",
     "003-00017ed0-00050529-10029a03", "0/d/e/", "W3WmEelopxcBhcwbZvV1oDqiz7g-"},
    // The same audio as an enhanced CD: MusicBrainz ends the audio 11400
    // sectors before the data track and gives the same ID; freedb and
    // AccurateRip's ID3 count the data track, id1 and id2 take the real
    // lead-out but not the data track's start.
    {"enhanced CD", make_table({0, 15000, 33000, 61400}, 80000, true), "1a042a04",
     "003-0001f400-0006d9e9-1a042a04", "0/0/4/", "W3WmEelopxcBhcwbZvV1oDqiz7g-"},
    {"first track after sector 0", make_table({32, 20000, 41234, 70000, 99999}, 150000), "3a07d005",
     "005-0005d151-001c2211-3a07d005", "1/5/1/", "_ZUDtloPM8bhZnEN9.kG04QM4EQ-"},
    {"enhanced CD, a short last audio track", make_table({0, 15000, 33000, 50000}, 60000, true),
     "24032004", "003-0001a5e0-0005a169-24032004", "0/e/5/", "ARkb99tjgnEWNPYCceQzRWuesQA-"},
    // A mixed-mode CD: freedb and MusicBrainz count the data track as
    // track 1, as on the three-track audio CD above (libdiscid includes a
    // data track that comes first); AccurateRip counts the two audio tracks
    // as its tracks 1 and 2 and takes the lead-out: id2 = 15000 * 1 +
    // 33000 * 2 + 50000 * 3.
    {"mixed-mode CD", with_data_first(make_table({0, 15000, 33000}, 50000)), "10029a03",
     "002-00017ed0-00038658-10029a03", "0/d/e/", "W3WmEelopxcBhcwbZvV1oDqiz7g-"},
    {"the test-pattern disc", make_table({0, 20, 50}, 75), "06000103",
     "003-00000091-000001eb-06000103", "1/9/0/", "7nG0A3d42ePaJ_SK9rbxgahLD2o-"},
};

std::string hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

}  // namespace

TEST(disc_ids, known_values) {
    for (const disc_case& c : discs) {
        const disc_layout layout = layout_of(c.table);
        const accuraterip_ids ids = accuraterip_disc_ids(layout);
        EXPECT_EQ(hex8(freedb_id(layout)), c.freedb) << c.what;
        EXPECT_EQ(accuraterip_name(ids), c.accuraterip) << c.what;
        EXPECT_EQ(accuraterip_url(ids), std::string("http://www.accuraterip.com/accuraterip/") +
                                            c.url_folders + "dBAR-" + c.accuraterip + ".bin")
            << c.what;
        std::string error;
        EXPECT_EQ(musicbrainz_id(layout, error), c.musicbrainz) << c.what << ": " << error;
    }
}

TEST(disc_ids, freedb_agrees_with_libdiscid_on_audio_cds) {
    // libdiscid knows only the audio session, so only audio CDs compare.
    for (const disc_case& c : discs) {
        const disc_layout layout = layout_of(c.table);
        if (layout.enhanced) {
            continue;
        }
        const std::unique_ptr<DiscId, void (*)(DiscId*)> disc(discid_new(), discid_free);
        int offsets[100] = {static_cast<int>(layout.leadout() + 150)};
        for (int t = 1; t <= layout.track_count; ++t) {
            offsets[t] = static_cast<int>(layout.start[t - 1] + 150);
        }
        ASSERT_TRUE(discid_put(disc.get(), 1, layout.track_count, offsets));
        EXPECT_EQ(discid_get_freedb_id(disc.get()), hex8(freedb_id(layout))) << c.what;
    }
}

// The shim answers Linux's CD-ROM ioctls; it is built on Linux only.
#ifdef VORKA_CD_DISCID_SHIM
TEST(disc_ids, freedb_agrees_with_cd_discid) {
    // cd-discid reads a drive through the kernel's CD-ROM ioctls; a small
    // preloaded library answers them from VORKA_FAKE_TOC instead.
    temp_dir dir;
    const std::string device = dir / "not-a-drive";
    write_file(device, "");
    for (const disc_case& c : discs) {
        std::string toc;
        for (int i = 0; i < c.table.track_count; ++i) {
            toc += std::to_string(c.table.track_start[i]);
            toc += (c.table.track_type[i] & 0x04) != 0 ? "d " : " ";
        }
        toc += std::to_string(c.table.track_start[c.table.track_count]);
        const run_result run = run_program(
            {"/usr/bin/cd-discid", device},
            {std::string("LD_PRELOAD=") + VORKA_CD_DISCID_SHIM, "VORKA_FAKE_TOC=" + toc});
        ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(run.out.substr(0, 9), std::string(c.freedb) + " ") << c.what << ": " << run.out;
    }
}
#endif

TEST(disc_layout, audio_ends_before_the_session_gap_of_an_enhanced_cd) {
    const disc_layout enhanced = layout_of(make_table({0, 15000, 33000, 61400}, 80000, true));
    EXPECT_TRUE(enhanced.enhanced);
    EXPECT_EQ(enhanced.audio_tracks, 3);
    EXPECT_EQ(enhanced.audio_end, 50000);
    EXPECT_EQ(enhanced.frames(3), 17000u * 588);
    EXPECT_EQ(enhanced.audio_frames(), 50000u * 588);
    // An image that keeps no gap before its data track: the audio runs on
    // to the data track.
    const disc_layout gapless = layout_of(make_table({0, 15000, 20000}, 30000, true));
    EXPECT_EQ(gapless.audio_end, 20000);
    EXPECT_EQ(gapless.frames(2), 5000u * 588);
    const disc_layout audio = layout_of(make_table({100, 15000}, 20000));
    EXPECT_FALSE(audio.enhanced);
    EXPECT_EQ(audio.audio_end, 20000);
    EXPECT_EQ(audio.audio_frames(), 19900u * 588);
}

TEST(disc_layout, refuses_what_has_no_identifiers) {
    const struct {
        track_table table;
        const char* error;
    } cases[] = {
        {make_table({}, 0), "the table of contents lists no tracks"},
        {make_table({0, 500, 400}, 1000),
         "the table of contents is out of order: track 3 starts at sector 400"},
        {make_table({0, 500}, 500),
         "the table of contents is out of order: the lead-out starts at sector 500"},
        {make_table({-5, 500}, 900),
         "the table of contents is out of order: track 1 starts at sector -5"},
        {make_table({0}, 900, true),
         "the only track is a data track: only audio CDs, enhanced CDs (audio tracks, then one "
         "data track) and mixed-mode CDs (one data track, then audio tracks) have these "
         "identifiers"},
        {with_data_first(make_table({0, 500}, 900, true)),
         "track 2 is a data track: only audio CDs, enhanced CDs (audio tracks, then one data "
         "track) and mixed-mode CDs (one data track, then audio tracks) have these "
         "identifiers"},
    };
    for (const auto& c : cases) {
        disc_layout layout;
        std::string error;
        EXPECT_FALSE(make_disc_layout(c.table, layout, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
    track_table middle = make_table({0, 500, 900}, 1200);
    middle.track_type[1] = 0x14;
    disc_layout layout;
    std::string error;
    EXPECT_FALSE(make_disc_layout(middle, layout, error));
    EXPECT_EQ(error,
              "track 2 is a data track between audio tracks: only audio CDs, enhanced CDs (audio "
              "tracks, then one data track) and mixed-mode CDs (one data track, then audio "
              "tracks) have these identifiers");
}
