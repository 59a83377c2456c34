#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

// The narrow interface between the command channel and whatever carries
// SCSI commands to a drive: the kernel (SG_IO on Linux) or the emulated
// drive that serves a CUE/BIN image.

enum class data_direction { none, in, out };

struct scsi_request {
    std::span<const std::uint8_t> cdb;  // 6, 10 or 12 bytes
    data_direction direction = data_direction::none;
    std::span<std::uint8_t> data;  // in: filled by the drive; out: sent to it
    int timeout_ms = 10000;
    int retries = 3;
};

inline constexpr std::size_t max_sense_bytes = 64;

struct scsi_outcome {
    enum class kind {
        completed,     // the command ran and the data phase is complete
        not_sent,      // the request never reached the drive; system_error is errno
        status_error,  // the drive answered CHECK CONDITION; sense holds its sense data
        failed,        // any other failure (transport, time-out, short transfer); status says which
    };
    kind what = kind::completed;
    int system_error = 0;
    std::array<std::uint8_t, max_sense_bytes> sense{};
    std::size_t sense_length = 0;
    int status = 0;
};

class passthrough {
  public:
    virtual ~passthrough() = default;
    virtual scsi_outcome send(const scsi_request& request) = 0;

    // Prints the sense data of the last command, which ended with a status
    // error, in the pass-through's own decoded form and returns true; false
    // when it has no form of its own, and the channel decodes the outcome's
    // sense bytes itself.
    virtual bool print_sense(std::FILE* /*stream*/) { return false; }
};

// A file whose bytes the drive serves, as a disc image's cue sheet and BIN
// files are: writing audio over it would destroy what is being read.
struct source_file {
    std::string path;  // as it was opened
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

struct passthrough_open_result {
    std::unique_ptr<passthrough> device;  // null when opening failed
    std::string error;                    // why, printed after the program name
    std::vector<source_file> sources;     // none for a real drive
};
