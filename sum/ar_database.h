#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sum/disc_ids.h"

// An AccurateRip database entry as the server sends it: one or more
// blocks, each a header of 13 bytes (the track count, then the disc IDs id1,
// id2 and the freedb ID, little-endian 32-bit) followed by 9 bytes per track
// (the confidence, the checksum and the checksum of the frame at sector 450,
// both little-endian 32-bit).  A block holds v1 or v2 checksums; nothing says
// which.

inline constexpr std::size_t ar_block_header_bytes = 13;
inline constexpr std::size_t ar_track_bytes = 9;

struct ar_track_entry {
    std::uint32_t confidence = 0;
    std::uint32_t checksum = 0;
    std::uint32_t frame450 = 0;
};

struct ar_block {
    accuraterip_ids ids;
    std::vector<ar_track_entry> tracks;
};

// Parses the whole entry and checks that every block is for the disc with
// these IDs.  false, with the reason in `error`, for an empty or truncated
// entry and for a block of another disc.
bool parse_ar_entry(std::span<const std::uint8_t> bytes, const accuraterip_ids& disc,
                    std::vector<ar_block>& blocks, std::string& error);

// How a track's checksums compare with the entry: the summed confidence of
// the stored checksums equal to its v1 and to its v2 sum.
struct ar_match {
    std::uint32_t v1_confidence = 0;
    std::uint32_t v2_confidence = 0;
    bool matched() const { return v1_confidence > 0 || v2_confidence > 0; }
};

ar_match match_track(const std::vector<ar_block>& blocks, int track, std::uint32_t v1,
                     std::uint32_t v2);

// Whether any block stores this checksum for the track (1-based).
bool stores_checksum(const std::vector<ar_block>& blocks, int track, std::uint32_t checksum);

// Reads and parses the file; on failure prints "<program>: <path>: <why>"
// and ends the run with status 1.
std::vector<ar_block> load_ar_entry(const std::string& path, const accuraterip_ids& disc);
