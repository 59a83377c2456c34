#include "tools/tcmu_ring.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "scsi/passthrough/sense.h"
#include "tools/tcmu_layout.h"

namespace {

const tcmu_layout& layout = tcmu_kernel_layout;

constexpr std::uint8_t status_good = 0x00;
constexpr std::uint8_t status_check_condition = 0x02;
constexpr std::uint8_t sense_key_hardware_error = 0x4;
constexpr std::uint8_t asc_data_phase_error = 0x4b;
constexpr std::uint8_t asc_internal_target_failure = 0x44;

// The 12-byte vendor CD-DA read.  The kernel does not know the length of a
// vendor command and copies 10 bytes of it; bytes 10 and 11 (sub-code
// selection and control) are lost on the way and are taken as zero, which is
// what every caller that wants plain audio sends.
constexpr std::uint8_t op_vendor_cdda_read = 0xd8;
constexpr std::size_t vendor_cdda_read_length = 12;

template <typename T>
T load(const std::uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T>
void store(std::uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

std::uint32_t load_acquire(std::uint8_t* at) {
    return __atomic_load_n(reinterpret_cast<std::uint32_t*>(at), __ATOMIC_ACQUIRE);
}

void store_release(std::uint8_t* at, std::uint32_t value) {
    __atomic_store_n(reinterpret_cast<std::uint32_t*>(at), value, __ATOMIC_RELEASE);
}

// What the kernel sees of an outcome that is not a SCSI status: the drive
// found the data phase wrong for the command (a length that does not match
// the sectors asked for), or could not run it at all.
scsi_outcome as_check_condition(const scsi_outcome& outcome) {
    if (outcome.what == scsi_outcome::kind::failed) {
        return check_condition(sense_key_aborted_command, asc_data_phase_error, 0);
    }
    return check_condition(sense_key_hardware_error, asc_internal_target_failure, 0);
}

}  // namespace

std::size_t kernel_cdb_length(std::uint8_t opcode) {
    constexpr std::size_t by_group[8] = {6, 10, 10, 12, 16, 12, 10, 10};
    return by_group[opcode >> 5];
}

data_direction ring_data_direction(std::uint8_t opcode, std::size_t data_length) {
    if (data_length == 0) {
        return data_direction::none;
    }
    switch (opcode) {
        case 0x04:  // FORMAT UNIT
        case 0x0a:  // WRITE(6)
        case 0x15:  // MODE SELECT(6)
        case 0x2a:  // WRITE(10)
        case 0x2e:  // WRITE AND VERIFY(10)
        case 0x3b:  // WRITE BUFFER
        case 0x4c:  // LOG SELECT
        case 0x54:  // SEND OPC INFORMATION
        case 0x55:  // MODE SELECT(10)
        case 0x5d:  // SEND CUE SHEET
        case 0xa3:  // SEND KEY
        case 0xaa:  // WRITE(12)
        case 0xb6:  // SET STREAMING
        case 0xbf:  // SEND DISC STRUCTURE
            return data_direction::out;
        default:
            return data_direction::in;
    }
}

bool tcmu_ring::attach(std::span<std::uint8_t> region, std::string& error) {
    if (region.size() < layout.mailbox_bytes) {
        error = "the shared memory is too small for a mailbox";
        return false;
    }
    const auto version = load<std::uint16_t>(region.data() + layout.version_at);
    if (version != 1 && version != layout.mailbox_version) {
        error = "unknown mailbox version " + std::to_string(version);
        return false;
    }
    region_ = region;
    ring_offset_ = load<std::uint32_t>(region.data() + layout.ring_offset_at);
    ring_size_ = load<std::uint32_t>(region.data() + layout.ring_size_at);
    if (ring_size_ == 0 || !fits(ring_offset_, ring_size_) || ring_size_ % layout.op_align != 0) {
        error = "the command ring lies outside the shared memory";
        return false;
    }
    return true;
}

bool tcmu_ring::fits(std::uint64_t offset, std::uint64_t length) const {
    return offset <= region_.size() && length <= region_.size() - offset;
}

long tcmu_ring::serve(passthrough& drive, const observer& observe, std::string& error) {
    std::uint8_t* mailbox = region_.data();
    const std::uint32_t head = load_acquire(mailbox + layout.head_at);
    std::uint32_t tail = load<std::uint32_t>(mailbox + layout.tail_at);
    long consumed = 0;
    while (tail != head) {
        if (tail >= ring_size_ || ring_size_ - tail < layout.header_bytes) {
            error = "the ring's tail " + std::to_string(tail) + " lies outside the ring";
            return -1;
        }
        const std::size_t entry = std::size_t{ring_offset_} + tail;
        const auto len_op = load<std::uint32_t>(region_.data() + entry);
        const std::uint32_t length = len_op & ~layout.op_mask;
        const std::uint32_t op = len_op & layout.op_mask;
        if (length < layout.header_bytes || length > ring_size_ - tail) {
            error = "an entry of " + std::to_string(length) + " bytes does not fit the ring";
            return -1;
        }
        if (op == layout.op_cmd) {
            command cmd;
            if (!read_command(entry, length, cmd, error)) {
                return -1;
            }
            answer(entry, cmd, drive, observe);
        } else if (op != layout.op_pad && op != layout.op_tmr) {
            // Padding to the ring's end needs nothing; nor do aborts and
            // resets, since every command is answered as soon as it is seen.
            region_[entry + layout.uflags_at] |= layout.uflag_unknown_op;
        }
        tail = (tail + length) % ring_size_;
        store_release(mailbox + layout.tail_at, tail);
        ++consumed;
    }
    return consumed;
}

bool tcmu_ring::read_command(std::size_t entry, std::size_t entry_length, command& cmd,
                             std::string& error) const {
    // The answer is written over the request, so an entry is never smaller
    // than the larger of the two.
    if (entry_length < layout.entry_bytes) {
        error = "a command entry of " + std::to_string(entry_length) + " bytes is too short";
        return false;
    }
    const std::uint8_t* request = region_.data() + entry;
    const auto iov_count = load<std::uint32_t>(request + layout.iov_count_at);
    if (iov_count > (entry_length - layout.iov_at) / layout.iovec_bytes) {
        error = "a command entry lists more buffers than it holds";
        return false;
    }
    for (std::uint32_t i = 0; i < iov_count; ++i) {
        const std::uint8_t* iov = request + layout.iov_at + i * layout.iovec_bytes;
        const auto offset = load<std::uint64_t>(iov + layout.iov_base_at);
        const auto length = load<std::uint64_t>(iov + layout.iov_len_at);
        if (!fits(offset, length)) {
            error = "a command's data buffer lies outside the shared memory";
            return false;
        }
        cmd.iovecs.emplace_back(offset, length);
        cmd.data_length += length;
    }
    const auto cdb_offset = load<std::uint64_t>(request + layout.cdb_offset_at);
    if (!fits(cdb_offset, 1)) {
        error = "a command's CDB lies outside the shared memory";
        return false;
    }
    const std::uint8_t opcode = region_[cdb_offset];
    const std::size_t copied = kernel_cdb_length(opcode);
    if (!fits(cdb_offset, copied)) {
        error = "a command's CDB lies outside the shared memory";
        return false;
    }
    std::memcpy(cmd.cdb, region_.data() + cdb_offset, copied);
    cmd.cdb_length = opcode == op_vendor_cdda_read ? vendor_cdda_read_length : copied;
    return true;
}

void tcmu_ring::answer(std::size_t entry, const command& cmd, passthrough& drive,
                       const observer& observe) {
    if (data_.size() < cmd.data_length) {
        data_.resize(cmd.data_length);
    }
    scsi_request request;
    request.cdb = {cmd.cdb, cmd.cdb_length};
    request.direction = ring_data_direction(cmd.cdb[0], cmd.data_length);
    request.data = {data_.data(), cmd.data_length};
    if (request.direction == data_direction::out) {
        std::size_t at = 0;
        for (const auto& [offset, length] : cmd.iovecs) {
            std::memcpy(data_.data() + at, region_.data() + offset, length);
            at += length;
        }
    } else {
        std::fill(request.data.begin(), request.data.end(), 0);
    }
    scsi_outcome outcome = drive.send(request);
    if (observe) {
        observe(request, outcome);
    }
    if (outcome.what == scsi_outcome::kind::completed) {
        if (request.direction == data_direction::in) {
            std::size_t at = 0;
            for (const auto& [offset, length] : cmd.iovecs) {
                std::memcpy(region_.data() + offset, data_.data() + at, length);
                at += length;
            }
        }
        region_[entry + layout.status_at] = status_good;
        return;
    }
    if (outcome.what != scsi_outcome::kind::status_error) {
        outcome = as_check_condition(outcome);
    }
    region_[entry + layout.status_at] = status_check_condition;
    std::uint8_t* sense = region_.data() + entry + layout.sense_at;
    std::memset(sense, 0, layout.sense_bytes);
    std::memcpy(sense, outcome.sense.data(),
                std::min<std::size_t>(outcome.sense_length, layout.sense_bytes));
}
