#include "scsi/passthrough/sg_io_answer.h"

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::uint8_t scsi_status_mask = 0x7e;
constexpr std::uint8_t status_good = 0x00;
constexpr std::uint8_t status_check_condition = 0x02;
constexpr std::uint8_t status_busy = 0x08;
constexpr std::uint8_t status_command_terminated = 0x22;
constexpr std::uint8_t status_task_set_full = 0x28;

constexpr std::uint16_t driver_status_mask = 0x0f;
constexpr std::uint16_t driver_timeout = 0x06;
constexpr std::uint16_t driver_sense = 0x08;

enum host_code : std::uint16_t {
    did_bus_busy = 0x02,
    did_time_out = 0x03,
    did_error = 0x07,
    did_reset = 0x08,
    did_soft_error = 0x0b,
    did_imm_retry = 0x0c,
    did_requeue = 0x0d,
    did_transport_disrupted = 0x0e,
};

constexpr std::uint8_t sense_key_recovered_error = 0x1;
constexpr std::uint8_t sense_key_medium_error = 0x3;
constexpr std::uint8_t sense_key_unit_attention = 0x6;
constexpr std::uint8_t sense_key_aborted_command = 0xb;

scsi_outcome failed_with(int status) {
    scsi_outcome outcome;
    outcome.what = scsi_outcome::kind::failed;
    outcome.status = status;
    return outcome;
}

int numeric_status(const sg_io_answer& a) {
    return (a.host_status & 0xff) | (a.driver_status & 0xff) << 8 | a.status << 16;
}

std::uint8_t sense_key_of(std::span<const std::uint8_t> sense) {
    if (sense.empty()) {
        return 0;
    }
    const std::uint8_t response_code = sense[0] & 0x7f;
    if ((response_code == 0x72 || response_code == 0x73) && sense.size() >= 2) {
        return sense[1] & 0x0f;
    }
    return sense.size() >= 3 ? sense[2] & 0x0f : 0;
}

bool timed_out(const sg_io_answer& a, const sg_io_command& c) {
    // libata may finish a timed-out ATAPI command with another status, so
    // the elapsed time is a second witness.
    constexpr unsigned slack_ms = 50;
    return a.host_status == did_time_out ||
           (a.driver_status & driver_status_mask) == driver_timeout ||
           (c.timeout_ms > 0 && a.duration_ms + slack_ms >= static_cast<unsigned>(c.timeout_ms));
}

scsi_outcome completed_or_short(const sg_io_answer& a, const sg_io_command& c) {
    if (c.direction == data_direction::in && a.resid != 0 && !answer_may_be_short(c.opcode)) {
        // Zeros or stale bytes passed on as audio would spoil the rip unseen.
        return failed_with(sg_status_short_transfer | numeric_status(a));
    }
    return {};
}

scsi_outcome check_condition_from(const sg_io_answer& a, const sg_io_command& c) {
    if (sense_key_of(a.sense) == sense_key_recovered_error && !a.sense.empty()) {
        // The drive recovered the data itself: the transfer is good.
        return completed_or_short(a, c);
    }
    scsi_outcome outcome;
    outcome.what = scsi_outcome::kind::status_error;
    outcome.status = a.status;
    outcome.sense_length = std::min(a.sense.size(), outcome.sense.size());
    std::copy_n(a.sense.begin(), outcome.sense_length, outcome.sense.begin());
    return outcome;
}

}  // namespace

bool answer_may_be_short(std::uint8_t opcode) {
    switch (opcode) {
        case 0x03:  // REQUEST SENSE
        case 0x12:  // INQUIRY
        case 0x1a:  // MODE SENSE(6)
        case 0x25:  // READ CAPACITY
        case 0x42:  // READ SUB-CHANNEL
        case 0x43:  // READ TOC/PMA/ATIP
        case 0x46:  // GET CONFIGURATION
        case 0x4a:  // GET EVENT STATUS NOTIFICATION
        case 0x51:  // READ DISC INFORMATION
        case 0x52:  // READ TRACK INFORMATION
        case 0x5a:  // MODE SENSE(10)
            return true;
        default:
            return false;
    }
}

scsi_outcome decode_sg_io_answer(const sg_io_answer& a, const sg_io_command& c) {
    if (a.ioctl_result < 0) {
        scsi_outcome outcome;
        outcome.what = scsi_outcome::kind::not_sent;
        outcome.system_error = a.error;
        return outcome;
    }
    const std::uint8_t status = a.status & scsi_status_mask;
    const std::uint16_t driver = a.driver_status & driver_status_mask;
    if (status == status_good && a.host_status == 0 && driver == 0) {
        if (timed_out(a, c) && c.direction == data_direction::in && a.resid != 0) {
            return failed_with(sg_status_timed_out | sg_status_short_transfer | numeric_status(a));
        }
        return completed_or_short(a, c);
    }
    // Sense data outranks the host status: the drive has said what went wrong.
    if (status == status_check_condition || status == status_command_terminated ||
        driver == driver_sense) {
        return check_condition_from(a, c);
    }
    int flags = 0;
    if (timed_out(a, c)) {
        flags |= sg_status_timed_out;
    }
    return failed_with(flags | numeric_status(a));
}

bool worth_retrying(const scsi_outcome& outcome) {
    switch (outcome.what) {
        case scsi_outcome::kind::completed:
        case scsi_outcome::kind::not_sent:
            return false;
        case scsi_outcome::kind::status_error: {
            const std::uint8_t key = sense_key_of({outcome.sense.data(), outcome.sense_length});
            // A scratched or dusty sector often reads on a second attempt,
            // so a medium error gets the retries too, as a pass-through's
            // own error recovery would give it.
            return key == sense_key_unit_attention || key == sense_key_aborted_command ||
                   key == sense_key_medium_error;
        }
        case scsi_outcome::kind::failed:
            break;
    }
    if ((outcome.status & (sg_status_timed_out | sg_status_short_transfer)) != 0) {
        return false;  // another ten seconds would most likely end the same way
    }
    const int scsi_status = (outcome.status >> 16) & 0xff;
    if (scsi_status == status_busy || scsi_status == status_task_set_full) {
        return true;
    }
    switch (outcome.status & 0xff) {
        case did_bus_busy:
        case did_error:
        case did_reset:
        case did_soft_error:
        case did_imm_retry:
        case did_requeue:
        case did_transport_disrupted:
            return true;
        default:
            return false;
    }
}
