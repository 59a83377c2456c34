#include "scsi/passthrough/sg_io_answer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace {

using kind = scsi_outcome::kind;

const std::vector<std::uint8_t> medium_error{0x70, 0, 0x03, 0,    0, 0, 0, 0x0a, 0,
                                             0,    0, 0,    0x11, 0, 0, 0, 0,    0};
const std::vector<std::uint8_t> unit_attention{0x70, 0, 0x06, 0,    0, 0, 0, 0x0a, 0,
                                               0,    0, 0,    0x29, 0, 0, 0, 0,    0};
const std::vector<std::uint8_t> recovered{0x70, 0, 0x01, 0,    0, 0, 0, 0x0a, 0,
                                          0,    0, 0,    0x18, 0, 0, 0, 0,    0};

struct row {
    const char* what;
    sg_io_answer answer;
    sg_io_command command;
    kind expected;
    int status;  // for failed: the numeric status; for not_sent: errno
    bool retry;
};

const sg_io_command audio_read{0xbe, data_direction::in, 61152, 10000};
const sg_io_command inquiry{0x12, data_direction::in, 64, 10000};
const sg_io_command mode_select{0x15, data_direction::out, 12, 10000};

sg_io_answer answer(std::uint8_t status, std::uint16_t host, std::uint16_t driver, int resid = 0,
                    const std::vector<std::uint8_t>& sense = {}, unsigned duration = 5) {
    sg_io_answer a;
    a.status = status;
    a.host_status = host;
    a.driver_status = driver;
    a.resid = resid;
    a.duration_ms = duration;
    a.sense = sense;
    return a;
}

sg_io_answer refused(int error) {
    sg_io_answer a;
    a.ioctl_result = -1;
    a.error = error;
    return a;
}

TEST(sg_io_answer, maps_the_kernel_answer_to_four_outcomes) {
    const row rows[] = {
        {"good", answer(0, 0, 0), audio_read, kind::completed, 0, false},
        {"ioctl refused", refused(EPERM), audio_read, kind::not_sent, EPERM, false},
        {"transfer too large", refused(EIO), audio_read, kind::not_sent, EIO, false},
        {"check condition with sense", answer(0x02, 0, 0x08, 0, medium_error), audio_read,
         kind::status_error, 0, true},
        {"sense wins over a host error", answer(0x02, 0x07, 0x08, 0, medium_error), audio_read,
         kind::status_error, 0, true},
        {"check condition without sense", answer(0x02, 0, 0), audio_read, kind::status_error, 0,
         false},
        {"unit attention", answer(0x02, 0, 0x08, 0, unit_attention), mode_select,
         kind::status_error, 0, true},
        {"recovered error is good data", answer(0x02, 0, 0x08, 0, recovered), audio_read,
         kind::completed, 0, false},
        {"time-out", answer(0, 0x03, 0, 0, {}, 10002), audio_read, kind::failed, 0x2000003, false},
        {"old kernel driver time-out", answer(0, 0, 0x06), audio_read, kind::failed, 0x2000600,
         false},
        {"bus reset", answer(0, 0x08, 0), audio_read, kind::failed, 0x08, true},
        {"transport disrupted", answer(0, 0x0e, 0), audio_read, kind::failed, 0x0e, true},
        {"device gone", answer(0, 0x01, 0), audio_read, kind::failed, 0x01, false},
        {"busy", answer(0x08, 0, 0), audio_read, kind::failed, 0x080000, true},
        {"reservation conflict", answer(0x18, 0, 0), audio_read, kind::failed, 0x180000, false},
        {"good read with data missing", answer(0, 0, 0, 2352), audio_read, kind::failed, 0x1000000,
         false},
        {"good read with data missing, slow", answer(0, 0, 0, 2352, {}, 10001), audio_read,
         kind::failed, 0x3000000, false},
        {"inquiry answers less than allocated", answer(0, 0, 0, 28), inquiry, kind::completed, 0,
         false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const scsi_outcome outcome = decode_sg_io_answer(r.answer, r.command);
        EXPECT_EQ(outcome.what, r.expected);
        if (r.expected == kind::failed) {
            EXPECT_EQ(outcome.status, r.status);
        }
        if (r.expected == kind::not_sent) {
            EXPECT_EQ(outcome.system_error, r.status);
        }
        if (r.expected == kind::status_error) {
            EXPECT_EQ(outcome.sense_length, r.answer.sense.size());
            EXPECT_TRUE(
                std::equal(r.answer.sense.begin(), r.answer.sense.end(), outcome.sense.begin()));
        }
        EXPECT_EQ(worth_retrying(outcome), r.retry);
    }
}

TEST(sg_io_answer, only_allocation_length_commands_may_answer_short) {
    EXPECT_TRUE(answer_may_be_short(0x12));
    EXPECT_TRUE(answer_may_be_short(0x43));
    EXPECT_TRUE(answer_may_be_short(0x1a));
    for (std::uint8_t read : {0x28, 0xa8, 0xbe, 0xd4, 0xd8}) {
        EXPECT_FALSE(answer_may_be_short(read));
    }
}

}  // namespace
