#include "reader/drive_session.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "reader/drive_identity.h"
#include "scsi/passthrough/scripted_passthrough_test_util.h"
#include "scsi/sense_text.h"

namespace {

using bytes = std::vector<std::uint8_t>;

bytes inquiry_answer(const char* vendor, const char* product, const char* revision) {
    bytes answer(64, 0);
    answer[0] = 0x05;
    std::memcpy(answer.data() + 8, vendor, std::min<std::size_t>(std::strlen(vendor), 8));
    std::memcpy(answer.data() + 16, product, std::min<std::size_t>(std::strlen(product), 16));
    std::memcpy(answer.data() + 32, revision, std::min<std::size_t>(std::strlen(revision), 4));
    return answer;
}

TEST(drive_identity, texts_are_cut_at_their_length_or_a_zero_and_squeezed) {
    struct identity_case {
        bytes answer;
        drive_identity expected;
    };
    bytes zero_in_product = inquiry_answer("SONY    ", "CDROM DRIVE     ", "1.0a");
    zero_in_product[16 + 5] = 0;
    const identity_case cases[] = {
        {inquiry_answer("TOSH    ", "CD-ROM   XM-3401", "3605"),
         {"TOSH", "CD-ROM XM-3401", "3605"}},
        {zero_in_product, {"SONY", "CDROM", "1.0a"}},
        {inquiry_answer("  A\tB  C", "\t", "    "), {"A\tB C", "", ""}},
        // The vendor's eight bytes end where the product begins.
        {inquiry_answer("ABCDEFGH", "IJKL", "MNOP"), {"ABCDEFGH", "IJKL", "MNOP"}},
    };
    for (const identity_case& c : cases) {
        const drive_identity got = identity_from_inquiry(c.answer.data());
        EXPECT_EQ(got.vendor, c.expected.vendor);
        EXPECT_EQ(got.product, c.expected.product);
        EXPECT_EQ(got.revision, c.expected.revision);
    }
}

TEST(settle_read_parameters, warnings_and_checks_in_order) {
    struct settle_case {
        int read_size;
        int overlap;
        int status;
        int settled_read_size;
        std::string err;
    };
    const std::string size_warning = "vorka: Warning: Overriding read size of 8 sectors.\n";
    const std::string overlap_warning = "vorka: Warning: Overriding overlap size of 2 sectors.\n";
    const settle_case cases[] = {
        {-1, -1, 0, 8, ""},
        {0, -1, 0, 8, ""},
        {-7, -1, 0, 8, ""},
        {26, -1, 0, 26, size_warning},
        {27, -1, 1, 27,
         size_warning + "vorka: Error: Number of sectors per read access must be <= 26.\n"},
        {-1, 0, 0, 8, overlap_warning},
        {-1, 1, 1, 8,
         overlap_warning + "vorka: Error: Jitter correction is not enabled in this version of "
                           "vorka.\n"},
        {-1, 8, 1, 8,
         overlap_warning +
             "vorka: Error: Overlapping sectors must be < sectors per read access (8).\n"},
        {1, 1, 1, 1,
         size_warning + overlap_warning +
             "vorka: Error: Overlapping sectors must be < sectors per read access (1).\n"},
        {4, 4, 1, 4,
         size_warning + overlap_warning +
             "vorka: Error: Overlapping sectors must be < sectors per read access (4).\n"},
        {-1, -5, 0, 8, ""},
    };
    set_program_name("vorka");
    drive_entry entry;
    entry.blocks = 8;
    entry.jitter = 2;
    for (const settle_case& c : cases) {
        reader_settings settings;
        settings.read_size = c.read_size;
        settings.overlap = c.overlap;
        const run_result r = run_captured([&] { settle_read_parameters(settings, entry); });
        EXPECT_EQ(r.status, c.status) << c.read_size << " " << c.overlap;
        EXPECT_EQ(r.err, c.err) << c.read_size << " " << c.overlap;
        EXPECT_EQ(settings.read_size, c.settled_read_size);
        EXPECT_EQ(settings.overlap, c.overlap);
    }
}

struct session_fixture : ::testing::Test {
    reader_run run;
    std::shared_ptr<drive_script> script = std::make_shared<drive_script>();

    void SetUp() override { set_program_name("vorka"); }

    run_result go() {
        auto device = scsi_attach(drive_script::make_passthrough(script));
        int status = -1;
        run_result r = run_captured([&] { status = run_with_device(run, *device); });
        if (r.status == 0) {
            r.status = status;
        }
        return r;
    }
};

TEST_F(session_fixture, reset_restores_the_data_defaults_and_stops) {
    for (int quiet : {0, 1}) {
        script = std::make_shared<drive_script>();
        script->then(scripted_answer::completed());
        run.settings.reset_drive = 1;
        run.settings.quiet = quiet;
        const run_result r = go();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, quiet ? "" : "Trying to reset CD-ROM density and sector size...\nDone.\n");
        ASSERT_EQ(script->requests().size(), 1u);
        EXPECT_EQ(hex_bytes(script->requests()[0].cdb), "15 10 00 00 0c 00");
        EXPECT_EQ(hex_bytes(script->requests()[0].data_sent),
                  "00 00 00 08 00 00 00 00 00 00 08 00");
        EXPECT_TRUE(script->device_closed());
    }
}

TEST_F(session_fixture, device_line_and_match_come_before_the_checks) {
    drive_entry known;
    known.vendor = "TOSH";
    known.readcmd = 0xd8;
    known.blocks = 8;
    run.drives = {known};
    run.settings.device_path = "/dev/sr0";
    run.settings.read_size = 30;
    script->then(scripted_answer::completed(inquiry_answer("TOSHIBA ", "CD-ROM  XM", "")));
    const run_result r = go();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Device: /dev/sr0 -- \"TOSHIBA\" \"CD-ROM XM\" \"\"\n"
              "vorka: Warning: Overriding read size of 8 sectors.\n"
              "vorka: Error: Number of sectors per read access must be <= 26.\n");
    EXPECT_EQ(script->requests().size(), 1u);
}

TEST_F(session_fixture, quiet_hides_the_device_line_but_not_the_matching) {
    run.drives = {drive_entry{"NEC", "", "", 0x28, false, 0, false, 8, 0}};
    run.settings.quiet = 1;
    script->then(scripted_answer::completed(inquiry_answer("TOSHIBA", "X", "1")));
    const run_result r = go();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vorka: Error: Unknown drive and missing default entry!\n");
}

}  // namespace
