#pragma once

// Small pieces that the emulated drive's command handlers share: CDB fields,
// answers cut to the allocation length, and the usual refusals.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "scsi/passthrough/passthrough.h"
#include "scsi/passthrough/sense.h"

namespace drive_answer {

inline constexpr std::uint8_t asc_invalid_field_in_cdb = 0x24;

inline scsi_outcome illegal_request(std::uint8_t asc) {
    return check_condition(sense_key_illegal_request, asc, 0);
}

inline std::uint32_t big_endian(std::span<const std::uint8_t> bytes, std::size_t at,
                                std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = value << 8 | bytes[at + i];
    }
    return value;
}

inline void put_big_endian(std::uint8_t* out, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
    }
}

// An answer shorter than the allocation length: copy what fits and clear
// the rest of the buffer.
inline scsi_outcome answer_with(const scsi_request& request, const std::uint8_t* answer,
                                std::size_t length, std::size_t allocation) {
    const std::size_t n = std::min({length, allocation, request.data.size()});
    std::memcpy(request.data.data(), answer, n);
    std::fill(request.data.begin() + static_cast<std::ptrdiff_t>(n), request.data.end(), 0);
    return {};
}

}  // namespace drive_answer
