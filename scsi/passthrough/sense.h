#pragma once

#include <cstdint>
#include <optional>

#include "scsi/passthrough/passthrough.h"

// Sense key values the emulated drive and the tests answer with.
inline constexpr std::uint8_t sense_key_not_ready = 0x2;
inline constexpr std::uint8_t sense_key_medium_error = 0x3;
inline constexpr std::uint8_t sense_key_illegal_request = 0x5;
inline constexpr std::uint8_t sense_key_unit_attention = 0x6;
inline constexpr std::uint8_t sense_key_aborted_command = 0xb;

inline constexpr std::uint8_t sense_fixed_current = 0x70;
inline constexpr std::uint8_t sense_information_valid = 0x80;
inline constexpr std::size_t fixed_sense_length = 18;

// CHECK CONDITION with 18 bytes of fixed-format sense, as drives answer;
// the information field (usually the failing address) when one is given.
inline scsi_outcome check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                                    std::optional<std::uint32_t> information = std::nullopt) {
    scsi_outcome outcome;
    outcome.what = scsi_outcome::kind::status_error;
    outcome.status = 0x02;  // SCSI status CHECK CONDITION
    auto& s = outcome.sense;
    s[0] = sense_fixed_current;
    if (information) {
        s[0] |= sense_information_valid;
        s[3] = static_cast<std::uint8_t>(*information >> 24);
        s[4] = static_cast<std::uint8_t>(*information >> 16);
        s[5] = static_cast<std::uint8_t>(*information >> 8);
        s[6] = static_cast<std::uint8_t>(*information);
    }
    s[2] = key & 0x0f;
    s[7] = fixed_sense_length - 8;  // additional sense length
    s[12] = asc;
    s[13] = ascq;
    outcome.sense_length = fixed_sense_length;
    return outcome;
}
