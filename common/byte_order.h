#pragma once

// Unsigned integers stored in a byte order of their own, as file headers
// and database entries hold them, read from any alignment.

#include <cstdint>

inline std::uint32_t le16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}

inline std::uint32_t le32(const std::uint8_t* p) {
    return le16(p) | le16(p + 2) << 16;
}

inline std::uint32_t be16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]);
}

inline std::uint32_t be32(const std::uint8_t* p) {
    return be16(p) << 16 | be16(p + 2);
}
