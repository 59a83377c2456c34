#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The largest read offset correction, either way, in samples: ten sectors,
// beyond every drive AccurateRip lists.
inline constexpr int max_offset_correction = 5880;

// One drive description from a configuration file.  Empty identity texts
// match any drive; an entry whose three texts are all empty is a default
// entry.
struct drive_entry {
    std::string vendor;
    std::string product;
    std::string version;
    std::uint8_t readcmd = 0;  // operation code of the audio read
    bool mdchng = false;       // switch density and 2352-byte blocks before audio reads
    std::uint8_t density = 0;  // density code for audio reads
    bool swap_bytes = false;   // the drive delivers samples byte-swapped
    int blocks = 0;            // sectors per read, 1 to 26
    int jitter = 0;            // overlap for jitter correction, below blocks
    int offset = 0;            // read offset correction in samples (AccurateRip's number)

    bool is_default() const { return vendor.empty() && product.empty() && version.empty(); }
};

// All entries of all configuration files, in reading order.
using drive_entries = std::vector<drive_entry>;
