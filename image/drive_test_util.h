#pragma once

// Commands sent to a drive in the tests, and what came back.

#include <array>
#include <cstdint>
#include <vector>

#include "scsi/passthrough/passthrough.h"

namespace drive_test {

using bytes = std::vector<std::uint8_t>;

struct answer {
    scsi_outcome outcome;
    bytes data;
};

// One command; the data buffer starts as 0xee bytes, so that what the drive
// did not fill in shows.
inline answer send(passthrough& drive, const bytes& cdb, std::size_t length,
                   data_direction direction = data_direction::in) {
    answer a;
    a.data = bytes(length, 0xee);
    scsi_request request;
    request.cdb = cdb;
    request.direction = length == 0 ? data_direction::none : direction;
    request.data = a.data;
    a.outcome = drive.send(request);
    return a;
}

// Sense key, ASC and ASCQ of a command that ended in CHECK CONDITION;
// -1 three times for one that did not.
inline std::array<int, 3> sense_of(const scsi_outcome& outcome) {
    if (outcome.what != scsi_outcome::kind::status_error) {
        return {-1, -1, -1};
    }
    return {outcome.sense[2] & 0x0f, outcome.sense[12], outcome.sense[13]};
}

constexpr std::array<int, 3> invalid_field{5, 0x24, 0};

}  // namespace drive_test
