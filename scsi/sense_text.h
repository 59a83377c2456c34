#pragma once

#include <cstdint>
#include <span>
#include <string>

// What a block of sense data says, whichever of the two formats the drive
// used.
struct sense_summary {
    enum class format { none, fixed, descriptor, unknown };
    format layout = format::none;
    bool deferred = false;  // the error belongs to an earlier command
    std::uint8_t response_code = 0;
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    bool information_valid = false;
    std::uint64_t information = 0;
};

sense_summary decode_sense(std::span<const std::uint8_t> sense);

// "ILLEGAL REQUEST" and so on; every key 0..15 has a name.
const char* sense_key_name(std::uint8_t key);

// The standard text of an additional sense code, or null for codes outside
// the ones a CD reader meets.
const char* additional_sense_text(std::uint8_t asc, std::uint8_t ascq);

// The lines printed for a failed command's sense data, each ending in a
// newline: the sense key, the additional sense code with its text, the
// information field when valid, and the raw bytes.
std::string describe_sense(std::span<const std::uint8_t> sense);

// Bytes as two-digit lower-case hex separated by single blanks.
std::string hex_bytes(std::span<const std::uint8_t> bytes);
