// libFuzzer target: the SG_IO answer decoder and the sense printer.  The
// input gives the kernel's answer (result, errno, SCSI, host and driver
// status, residual count, duration), the command (operation code,
// direction, length, time-out) and, after those 23 bytes, the sense data.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "scsi/passthrough/sg_io_answer.h"
#include "scsi/sense_text.h"

namespace {

constexpr std::size_t fixed_part = 23;

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

struct input_reader {
    const std::uint8_t* at;
    std::uint32_t take(int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value = value << 8 | *at++;
        }
        return value;
    }
};

// Lines that each end in a newline, the last one the raw bytes.
void check_description(std::span<const std::uint8_t> sense) {
    const std::string text = describe_sense(sense);
    check(!text.empty() && text.back() == '\n');
    check(text.find('\0') == std::string::npos);
    if (sense.empty()) {
        return;
    }
    const std::string last = "Sense bytes: " + hex_bytes(sense) + "\n";
    check(text.size() >= last.size() && text.ends_with(last));
    check(hex_bytes(sense).size() == sense.size() * 3 - 1);
    const sense_summary summary = decode_sense(sense);
    check(summary.key <= 0x0f);
    check(std::strlen(sense_key_name(summary.key)) > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < fixed_part) {
        return 0;
    }
    input_reader in{data};
    sg_io_answer answer;
    answer.ioctl_result = (in.take(1) & 1) != 0 ? -1 : 0;
    answer.error = static_cast<int>(in.take(1));
    answer.status = static_cast<std::uint8_t>(in.take(1));
    // The kernel's host and driver statuses are bytes in 16-bit fields.
    answer.host_status = static_cast<std::uint16_t>(in.take(1));
    answer.driver_status = static_cast<std::uint16_t>(in.take(1));
    answer.resid = static_cast<int>(in.take(4));
    answer.duration_ms = in.take(4);
    sg_io_command command;
    command.opcode = static_cast<std::uint8_t>(in.take(1));
    command.direction = static_cast<data_direction>(in.take(1) % 3);
    command.length = in.take(4);
    command.timeout_ms = static_cast<int>(in.take(4) & 0x7fffffff);
    answer.sense = {data + fixed_part, size - fixed_part};

    const scsi_outcome outcome = decode_sg_io_answer(answer, command);
    switch (outcome.what) {
        case scsi_outcome::kind::not_sent:
            check(answer.ioctl_result < 0 && outcome.system_error == answer.error);
            break;
        case scsi_outcome::kind::completed:
            check(answer.ioctl_result >= 0);
            // Data missing from a read is never passed on as complete.
            check(command.direction != data_direction::in || answer.resid == 0 ||
                  answer_may_be_short(command.opcode));
            check(!worth_retrying(outcome));
            break;
        case scsi_outcome::kind::status_error: {
            check(answer.ioctl_result >= 0);
            const std::size_t kept = std::min(answer.sense.size(), outcome.sense.size());
            check(outcome.sense_length == kept);
            check(std::equal(answer.sense.begin(), answer.sense.begin() + kept,
                             outcome.sense.begin()));
            break;
        }
        case scsi_outcome::kind::failed:
            check(answer.ioctl_result >= 0 && outcome.status != 0);
            break;
    }
    check_description(answer.sense);
    check_description({outcome.sense.data(), outcome.sense_length});
    return 0;
}
