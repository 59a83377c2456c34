#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 as zlib, PNG and Ethernet compute it: the reflected polynomial
// 0xEDB88320, the register preset to all ones and inverted at the end.  The
// value of a block is crc32_extend(0, block); a long stream is summed in
// pieces by handing each piece the value of what came before.
std::uint32_t crc32_extend(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

// The two ways of computing it, both exposed so that tests can hold them
// against each other.  crc32_extend uses the carry-less multiply when the
// processor has it.
std::uint32_t crc32_extend_by_table(std::uint32_t crc, const std::uint8_t* data, std::size_t size);
bool crc32_carryless_available();
// Only when crc32_carryless_available().
std::uint32_t crc32_extend_carryless(std::uint32_t crc, const std::uint8_t* data, std::size_t size);
