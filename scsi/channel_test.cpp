#include "scsi/channel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "scsi/passthrough/scripted_passthrough_test_util.h"

namespace {

using bytes = std::vector<std::uint8_t>;

bytes of(const cdb_bytes& cdb) {
    return {cdb.bytes.begin(), cdb.bytes.begin() + cdb.length};
}

TEST(cdb, catalogue_bytes) {
    struct row {
        cdb_bytes cdb;
        bytes expected;
    };
    const row rows[] = {
        {inquiry_cdb(), {0x12, 0, 0, 0, 0x40, 0}},
        {read_toc_cdb(), {0x43, 0, 0, 0, 0, 0, 0x01, 0x08, 0, 0}},
        {mode_select6_cdb(), {0x15, 0x10, 0, 0, 0x0c, 0}},
        {read10_cdb(0x28, 0x012345, 1), {0x28, 0, 0, 0x01, 0x23, 0x45, 0, 0, 1, 0}},
        {read10_cdb(0xd4, 0, 26), {0xd4, 0, 0, 0, 0, 0, 0, 0, 26, 0}},
        {read12_d8_cdb(0x054321, 26), {0xd8, 0, 0, 0x05, 0x43, 0x21, 0, 0, 0, 26, 0, 0}},
        {read_cd_cdb(0x1234, 26), {0xbe, 0x04, 0, 0, 0x12, 0x34, 0, 0, 26, 0x10, 0, 0}},
        {test_unit_ready_cdb(), {0, 0, 0, 0, 0, 0}},
        {mode_sense6_cdb(), {0x1a, 0, 0x01, 0, 0x0c, 0}},
    };
    for (const row& r : rows) {
        EXPECT_EQ(of(r.cdb), r.expected);
    }
}

// An address beyond 24 bits must not wrap into a sector of the disc.
TEST(cdb, address_keeps_all_32_bits) {
    EXPECT_EQ(of(read10_cdb(0x28, 0x01000000, 1)), (bytes{0x28, 0, 1, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(of(read12_d8_cdb(0x01000002, 1)), (bytes{0xd8, 0, 1, 0, 0, 2, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(of(read_cd_cdb(0xff000000, 1)),
              (bytes{0xbe, 0x04, 0xff, 0, 0, 0, 0, 0, 1, 0x10, 0, 0}));
}

class channel : public ::testing::Test {
  protected:
    void SetUp() override {
        set_program_name("vorka");
        ::unsetenv("VORKA_SCSI_LOG");
        script = std::make_shared<drive_script>();
        device = scsi_attach(drive_script::make_passthrough(script));
    }

    std::shared_ptr<drive_script> script;
    std::unique_ptr<scsi_device> device;
};

TEST_F(channel, completed_command_passes_data_through_transfer_buffer) {
    script->then(scripted_answer::completed({0x05, 0x80, 0x02}));
    const run_result r =
        run_captured([&] { scsi_command(*device, inquiry_cdb(), 64, data_direction::in); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(device->transfer_buffer[0], 0x05);
    EXPECT_EQ(device->transfer_buffer[1], 0x80);
    ASSERT_EQ(script->requests().size(), 1u);
    const recorded_request& sent = script->requests()[0];
    EXPECT_EQ(sent.cdb, of(inquiry_cdb()));
    EXPECT_EQ(sent.direction, data_direction::in);
    EXPECT_EQ(sent.length, 64u);
    EXPECT_EQ(sent.timeout_ms, 10000);
    EXPECT_EQ(sent.retries, 3);
}

TEST_F(channel, mode_select_sends_the_parameter_list_from_transfer_buffer) {
    const bytes list{0, 0, 0, 8, 0x82, 0, 0, 0, 0, 0, 0x09, 0x30};
    std::copy(list.begin(), list.end(), device->transfer_buffer.begin());
    script->then(scripted_answer::completed());
    run_captured([&] { scsi_command(*device, mode_select6_cdb(), 12, data_direction::out); });
    ASSERT_EQ(script->requests().size(), 1u);
    EXPECT_EQ(script->requests()[0].data_sent, list);
}

TEST_F(channel, full_read_fills_transfer_buffer_exactly) {
    bytes sectors(transfer_buffer_bytes);
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        sectors[i] = static_cast<std::uint8_t>(i * 7);
    }
    script->then(scripted_answer::completed(sectors));
    const run_result r = run_captured([&] {
        scsi_send(*device, read_cd_cdb(0, 26), 26 * sector_bytes, data_direction::in,
                  message_kind::cdda_read);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(script->requests()[0].length, 61152u);
    EXPECT_TRUE(std::equal(sectors.begin(), sectors.end(), device->transfer_buffer.begin()));
}

struct failure_case {
    message_kind kind;
    scripted_answer answer;
    std::string expected;
};

TEST_F(channel, failure_messages_for_each_kind_and_outcome) {
    const std::string sense_lines =
        "Sense key: MEDIUM ERROR (0x3)\n"
        "Additional sense: 11/00 Unrecovered read error\n"
        "Sense bytes: 70 00 03 00 00 00 00 0a 00 00 00 00 11 00 00 00 00 00\n";
    const failure_case cases[] = {
        {message_kind::generic, scripted_answer::not_sent(EIO),
         "error sending SCSI command: Input/output error\n"},
        {message_kind::cdrom_read, scripted_answer::not_sent(ENODEV),
         "error sending CD-ROM read command: No such device\n"},
        {message_kind::cdda_read, scripted_answer::not_sent(ENOMEM),
         "error sending CD-DA read command: Cannot allocate memory\n"},
        {message_kind::generic, scripted_answer::check_condition(3, 0x11, 0),
         "error returned from SCSI command:\n" + sense_lines},
        {message_kind::cdrom_read, scripted_answer::check_condition(3, 0x11, 0),
         "error returned from CD-ROM read command:\n" + sense_lines},
        {message_kind::cdda_read, scripted_answer::check_condition(3, 0x11, 0),
         "error returned from CD-DA read command:\n" + sense_lines},
        {message_kind::generic, scripted_answer::failed(11),
         "error returned from SCSI command:\nccb->ccb_h.status == 11\n"},
        {message_kind::cdrom_read, scripted_answer::failed(0x2000003),
         "error returned from CD-ROM read command:\nccb->ccb_h.status == 33554435\n"},
        {message_kind::cdda_read, scripted_answer::failed(-2),
         "error returned from CD-DA read command:\nccb->ccb_h.status == -2\n"},
    };
    for (const failure_case& c : cases) {
        auto own = std::make_shared<drive_script>();
        own->then(c.answer);
        auto dev = scsi_attach(drive_script::make_passthrough(own));
        const run_result r = run_captured([&] {
            scsi_send(*dev, read10_cdb(0x28, 16, 1), sector_bytes, data_direction::in, c.kind);
        });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.expected);
        // Only a command that was never sent closes the device on its way out.
        EXPECT_EQ(own->device_closed(), c.answer.outcome.what == scsi_outcome::kind::not_sent);
    }
}

TEST_F(channel, check_condition_without_sense_says_so) {
    script->then(scripted_answer::with_sense({}));
    const run_result r =
        run_captured([&] { scsi_command(*device, read_toc_cdb(), 2048, data_direction::in); });
    EXPECT_EQ(r.err, "error returned from SCSI command:\nNo sense data returned\n");
}

TEST_F(channel, refused_vendor_read_explains_the_privilege) {
    script->then(scripted_answer::not_sent(EPERM)).then(scripted_answer::not_sent(EPERM));
    const run_result vendor = run_captured([&] {
        scsi_send(*device, read12_d8_cdb(0, 26), transfer_buffer_bytes, data_direction::in,
                  message_kind::cdda_read);
    });
    EXPECT_EQ(vendor.err,
              "error sending CD-DA read command: Operation not permitted\n"
              "(the vendor-specific read command 0xd8 needs root privileges here; a drive entry "
              "with readcmd 0xBE uses READ CD, which does not)\n");

    auto again = scsi_attach(drive_script::make_passthrough(script));
    const run_result standard =
        run_captured([&] { scsi_command(*again, mode_select6_cdb(), 12, data_direction::out); });
    EXPECT_EQ(standard.err, "error sending SCSI command: Operation not permitted\n");
}

TEST_F(channel, close_releases_the_device) {
    scsi_close(*device);
    EXPECT_TRUE(script->device_closed());
}

TEST(channel_log, one_line_per_command_in_the_documented_form) {
    temp_dir dir;
    const std::string log = (dir / "scsi.log").string();
    ::setenv("VORKA_SCSI_LOG", log.c_str(), 1);
    auto script = std::make_shared<drive_script>();
    script->then(scripted_answer::completed())
        .then(scripted_answer::completed())
        .then(scripted_answer::not_sent(EPERM))
        .then(scripted_answer::check_condition(3, 0x11, 0))
        .then(scripted_answer::failed(0x2000003));
    auto device = scsi_attach(drive_script::make_passthrough(script));
    ::unsetenv("VORKA_SCSI_LOG");

    const bytes list{0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0};
    const run_result r = run_captured([&] {
        scsi_command(*device, inquiry_cdb(), 64, data_direction::in);
        std::copy(list.begin(), list.end(), device->transfer_buffer.begin());
        scsi_command(*device, mode_select6_cdb(), 12, data_direction::out);
    });
    run_captured([&] { scsi_command(*device, test_unit_ready_cdb(), 0, data_direction::none); });
    // The command that was not sent closed the device; the log goes on in
    // append mode on the next one.
    ::setenv("VORKA_SCSI_LOG", log.c_str(), 1);
    device = scsi_attach(drive_script::make_passthrough(script));
    ::unsetenv("VORKA_SCSI_LOG");
    run_captured([&] {
        scsi_send(*device, read_cd_cdb(0x1234, 26), transfer_buffer_bytes, data_direction::in,
                  message_kind::cdda_read);
    });
    run_captured([&] {
        scsi_send(*device, read10_cdb(0x28, 7, 1), sector_bytes, data_direction::in,
                  message_kind::cdrom_read);
    });
    scsi_close(*device);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(log),
              "12 00 00 00 40 00 | in 64 | ok\n"
              "15 10 00 00 0c 00 | out 12 00 00 00 08 00 00 00 00 00 00 08 00 | ok\n"
              "00 00 00 00 00 00 | none 0 | not sent: Operation not permitted\n"
              "be 04 00 00 12 34 00 00 1a 10 00 00 | in 61152 | check condition 03/11/00\n"
              "28 00 00 00 00 07 00 00 01 00 | in 2352 | failed 33554435\n");
}

TEST(channel_log, unwritable_log_is_an_error) {
    set_program_name("vorka");
    ::setenv("VORKA_SCSI_LOG", "/nonexistent-vorka-dir/scsi.log", 1);
    auto script = std::make_shared<drive_script>();
    const run_result r = run_captured([&] { scsi_attach(drive_script::make_passthrough(script)); });
    ::unsetenv("VORKA_SCSI_LOG");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vorka: /nonexistent-vorka-dir/scsi.log: No such file or directory\n");
}

}  // namespace
