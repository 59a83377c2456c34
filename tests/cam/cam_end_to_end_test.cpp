// vorka with the CAM pass-through, on a disc image that the libcam double
// serves as /dev/cd0: the same source FreeBSD compiles, end to end.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "output/headers.h"
#include "reader/end_to_end_test_util.h"
#include "scsi/passthrough/cam_passthrough.h"

namespace {

class vorka_through_cam : public vorka_on_image {
  protected:
    // vorka-cam on /dev/cd0 (or the device given), with the CCB log on.
    run_result cam(std::vector<std::string> args, std::vector<std::string> env = {},
                   const std::string& device = "/dev/cd0") const {
        fs::remove(cam_log());
        args.insert(args.begin(), {program_path("vorka-cam"), "-d", device});
        env.push_back("HOME=" + home.path().string());
        env.push_back("CAM_DOUBLE_DISC=" + disc.cue.string());
        env.push_back("CAM_DOUBLE_LOG=" + cam_log());
        return run_program(args, env);
    }
    std::string cam_log() const { return out("cam.log"); }
    lines cam_calls() const { return split_lines(read_file(cam_log())); }

    // The commands one run sends, as the channel logs them.
    lines commands_of(const std::function<run_result(std::vector<std::string>)>& run,
                      const std::string& name) const {
        const std::string log = out(name);
        fs::remove(log);
        const run_result r = run({"VORKA_SCSI_LOG=" + log});
        EXPECT_EQ(r.status, 0) << r.err;
        return split_lines(read_file(log));
    }
};

const std::string opened = "cam_open_device /dev/cd0 flags " + std::to_string(O_RDWR);
const lines released = {"cam_freeccb", "cam_close_device"};

// flags: CAM_DIR_IN | CAM_DEV_QFRZDIS | CAM_PASS_ERR_RECOVER; csio_build's
// sense length.
const std::string inquiry_ccb =
    "cam_send_ccb flags 0x10440 retries 3 timeout 10000 length 64 sense 252 cdb 12 00 00 00 40 00";

TEST_F(vorka_through_cam, lists_the_disc_as_the_image_drive_does) {
    const run_result r = cam({"-i"});
    EXPECT_EQ(r.status, 0) << r.err;
    const run_result direct = vorka({"-i"});
    const std::string image_line = "Device: " + disc.cue.string() + " -- ";
    ASSERT_TRUE(direct.err.starts_with(image_line)) << direct.err;
    EXPECT_EQ(r.err, "Device: /dev/cd0 -- " + direct.err.substr(image_line.size()));
    EXPECT_NE(r.err.find(listing_header + row1 + row2 + row3 + row4 + separator),
              std::string::npos);
    const lines calls = cam_calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls.front(), opened);
    EXPECT_EQ(calls[1], inquiry_ccb);
    EXPECT_EQ(lines(calls.end() - 2, calls.end()), released);
}

// Every kind of drive, with its mode-command fallbacks: the same commands
// as through the image drive, and the same bytes.
TEST_F(vorka_through_cam, rips_every_kind_of_drive_byte_for_byte_with_the_same_commands) {
    for (const char* kind : {"scsi", "atapi", "mmc"}) {
        const std::string drive = std::string("VORKA_IMAGE_DRIVE=") + kind;
        const std::vector<std::string> args = {"-q", "-t", "1-3", "-f", "wav", "-o", out("rip.%s")};
        const lines through_cam = commands_of(
            [&](std::vector<std::string> env) {
                env.push_back(drive);
                return cam(args, env);
            },
            "cam-scsi.log");
        EXPECT_EQ(read_bytes(out("rip.wav")), as_bytes(make_wav_header(250 * 2352 + 50 * 2352)) +
                                                  track(1) + track(2) + track(3))
            << kind;
        const lines direct = commands_of(
            [&](std::vector<std::string> env) {
                env.push_back(drive);
                return vorka(args, env);
            },
            "image-scsi.log");
        EXPECT_EQ(through_cam, direct) << kind;
        EXPECT_GT(through_cam.size(), 10u) << kind;
    }
}

TEST_F(vorka_through_cam, every_request_is_built_as_a_scsi_io_with_recovery_and_no_queue_freeze) {
    const run_result r = cam({"-q", "-t", "2", "-o", "/dev/null"}, {"VORKA_IMAGE_DRIVE=atapi"});
    EXPECT_EQ(r.status, 0) << r.err;
    int sent = 0;
    for (const std::string& call : cam_calls()) {
        if (!call.starts_with("cam_send_ccb ")) {
            continue;
        }
        ++sent;
        const bool out_going = call.find(" cdb 55 ") != std::string::npos ||
                               call.find(" cdb 15 ") != std::string::npos;
        EXPECT_TRUE(call.starts_with(out_going
                                         ? "cam_send_ccb flags 0x10480 retries 3 timeout 10000 "
                                         : "cam_send_ccb flags 0x10440 retries 3 timeout 10000 "))
            << call;
        EXPECT_NE(call.find(" sense 252 cdb "), std::string::npos) << call;
    }
    EXPECT_GT(sent, 5);
}

TEST_F(vorka_through_cam, a_medium_error_prints_the_sense_through_libcam) {
    const run_result r =
        cam({"-q", "-t", "2", "-o", out("t%02d")}, {"VORKA_IMAGE_MEDIUM_ERRORS=120"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "error returned from CD-DA read command:\n"
              "(cd0:cam double) SCSI status 0x02, 18 sense bytes: key 0x3 asc 0x11 ascq 0x00\n");
}

// A drive entry whose read command the drive does not know.
TEST_F(vorka_through_cam, a_command_refused_with_check_condition) {
    use_entry("0xa8 0 0 0 26 0");
    const run_result r = cam({"-q", "-t", "1", "-o", out("t%02d")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "error returned from CD-DA read command:\n"
              "(cd0:cam double) SCSI status 0x02, 18 sense bytes: key 0x5 asc 0x20 ascq 0x00\n");
}

TEST_F(vorka_through_cam, failures_other_than_a_scsi_status_print_the_whole_status_word) {
    struct status_case {
        const char* fault;
        std::string message;
    };
    const status_case cases[] = {
        // CAM_CMD_TIMEOUT with CAM_DEV_QFRZN: 0x0b | 0x40.
        {"timeout:43", "error returned from SCSI command:\nccb->ccb_h.status == 75\n"},
        // A read that completed with a sector missing: CAM_DATA_RUN_ERR.
        {"short:be", "error returned from CD-DA read command:\nccb->ccb_h.status == 18\n"},
    };
    for (const status_case& c : cases) {
        const run_result r = cam({"-q", "-t", "1", "-o", out("t%02d")},
                                 {std::string("CAM_DOUBLE_FAULT=") + c.fault});
        EXPECT_EQ(r.status, 1) << c.fault;
        EXPECT_EQ(r.err, c.message) << c.fault;
    }
}

// A short answer to a command with an allocation length is an answer.
TEST_F(vorka_through_cam, a_short_inquiry_answer_is_not_a_failure) {
    const run_result r = cam({"-iq"}, {"CAM_DOUBLE_FAULT=short:12"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, row1 + row2 + row3 + row4);
}

TEST_F(vorka_through_cam, a_request_not_sent_releases_the_ccb_and_closes_the_device) {
    const run_result r = cam({"-iq"}, {"CAM_DOUBLE_FAULT=not-sent:12"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("error sending SCSI command: ") + std::strerror(ENXIO) + "\n");
    EXPECT_EQ(cam_calls(), (lines{opened, inquiry_ccb, "cam_freeccb", "cam_close_device"}));
}

TEST_F(vorka_through_cam, open_failures_print_libcams_text) {
    run_result r = cam({"-iq"}, {}, "/dev/cd1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vorka-cam: cam_lookup_pass: no pass unit for cd1: the pass driver is not in the "
              "kernel, or cd1 does not exist\n");
    EXPECT_EQ(r.out, "");

    r = cam({"-iq"}, {}, "/dev/cdrom");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vorka-cam: cam_get_device: unable to find device unit number\n");

    r = cam({"-iq"}, {"CAM_DOUBLE_FAULT=no-ccb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vorka-cam: couldn't allocate CCB\n");
    EXPECT_EQ(cam_calls(), (lines{opened, "cam_close_device"}));
}

// libcam cannot parse the partition letter of old systems' names.
TEST_F(vorka_through_cam, the_old_partition_name_opens_the_unit) {
    const run_result r = cam({"-iq"}, {}, "/dev/cd0c");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(cam_calls().front(), opened);
}

TEST(cam_unit_path, drops_only_a_partition_letter_after_a_cd_unit) {
    const std::pair<const char*, const char*> cases[] = {
        {"/dev/cd0c", "/dev/cd0"},
        {"cd12a", "cd12"},
        {"/dev/cd0", "/dev/cd0"},
        {"/dev/cdc", "/dev/cdc"},
        {"/dev/cd0z", "/dev/cd0z"},
        {"/dev/pass1", "/dev/pass1"},
        {"/dev/acd0c", "/dev/acd0c"},
        {"/tmp/cd0c/x", "/tmp/cd0c/x"},
        {"", ""},
    };
    for (const auto& [given, opened_path] : cases) {
        EXPECT_EQ(cam_unit_path(given), opened_path) << given;
    }
}

}  // namespace
