#pragma once

// The kernel's answer to one SG_IO request, and how it maps onto the four
// outcomes of a command.  Kept apart from the ioctl so that the mapping can
// be checked with a table of answers on any machine.

#include <array>
#include <cstdint>
#include <span>

#include "scsi/passthrough/passthrough.h"

struct sg_io_answer {
    int ioctl_result = 0;     // -1 when the kernel refused the request
    int error = 0;            // errno after a refused request
    std::uint8_t status = 0;  // SCSI status byte (0x02 CHECK CONDITION)
    std::uint16_t host_status = 0;
    std::uint16_t driver_status = 0;
    int resid = 0;  // bytes of the data phase not transferred
    unsigned duration_ms = 0;
    std::span<const std::uint8_t> sense;  // the sb_len_wr bytes written
};

// The numeric status of a "failed" outcome, printed in the channel's status
// line: the host status in bits 0-7, the driver status in bits 8-15, the
// SCSI status in bits 16-23, plus the flags below.
inline constexpr int sg_status_short_transfer = 0x1000000;  // GOOD, but data missing
inline constexpr int sg_status_timed_out = 0x2000000;

// What the command was, as far as the mapping needs it.
struct sg_io_command {
    std::uint8_t opcode = 0;
    data_direction direction = data_direction::none;
    std::size_t length = 0;
    int timeout_ms = 0;
};

scsi_outcome decode_sg_io_answer(const sg_io_answer& answer, const sg_io_command& command);

// Whether a command that ended with this outcome is worth sending again:
// conditions that may pass by themselves (unit attention, a busy target, a
// disturbed transport, a sector that failed to read once).  EINTR is handled apart: it costs no retry.
bool worth_retrying(const scsi_outcome& outcome);

// Whether a data-in command's answer may be shorter than asked for: the
// commands with an allocation length (INQUIRY, READ TOC, MODE SENSE, ...)
// return as much as they have.
bool answer_may_be_short(std::uint8_t opcode);
