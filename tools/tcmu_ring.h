#pragma once

// The command ring of the kernel's user-space SCSI target (target_core_user):
// the kernel puts each command for the backstore into a ring in memory that
// it shares with the handler through a uio device, and waits for the handler
// to answer it in place and move the ring's tail past it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "scsi/passthrough/passthrough.h"

class tcmu_ring {
  public:
    // Called with each command and its outcome once the drive has answered.
    using observer = std::function<void(const scsi_request&, const scsi_outcome&)>;

    // Checks the mailbox at the start of the mapped region; false with the
    // reason when it is not a command ring this handler knows.
    bool attach(std::span<std::uint8_t> region, std::string& error);

    // Answers every entry between the ring's tail and its head with the
    // drive, in order, moving the tail past each.  Returns the number of
    // entries consumed (commands, padding and task management notices), or
    // -1 with the reason when an entry does not fit the ring.
    long serve(passthrough& drive, const observer& observe, std::string& error);

  private:
    struct command {
        std::uint8_t cdb[16] = {};
        std::size_t cdb_length = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> iovecs;  // offset, length
        std::size_t data_length = 0;
    };

    bool read_command(std::size_t entry, std::size_t entry_length, command& cmd,
                      std::string& error) const;
    void answer(std::size_t entry, const command& cmd, passthrough& drive, const observer& observe);
    bool fits(std::uint64_t offset, std::uint64_t length) const;

    std::span<std::uint8_t> region_;
    std::uint32_t ring_offset_ = 0;
    std::uint32_t ring_size_ = 0;
    std::vector<std::uint8_t> data_;  // one command's data phase, contiguous
};

// The length of a CDB as the kernel copies it into the ring: by the group
// of its operation code, with vendor commands (0xc0 to 0xff) at 10 bytes.
std::size_t kernel_cdb_length(std::uint8_t opcode);

// The data direction of a command the ring carries (the ring does not say):
// out for the commands that send a parameter list or data, in otherwise.
data_direction ring_data_direction(std::uint8_t opcode, std::size_t data_length);
