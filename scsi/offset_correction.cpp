#include "scsi/offset_correction.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t samples_per_sector = sector_bytes / 4;

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

}  // namespace

offset_correction::offset_correction(int samples)
    : samples_(samples),
      sector_shift_(floor_div(samples, samples_per_sector)),
      skipped_bytes_(static_cast<std::size_t>(samples - sector_shift_ * samples_per_sector) * 4),
      carried_(sector_bytes),
      staging_(transfer_buffer_bytes),
      assembled_(transfer_buffer_bytes) {}

void offset_correction::set_area(std::int64_t area_first, std::int64_t area_end, std::int64_t first,
                                 std::int64_t end) {
    area_first_ = std::min(area_first, first);
    area_end_ = std::max(area_end, end);
}

std::int64_t offset_correction::samples_outside_area(std::int64_t first, std::int64_t end) const {
    const std::int64_t from = first * samples_per_sector + samples_;
    const std::int64_t to = end * samples_per_sector + samples_;
    const std::int64_t inside = std::min(to, area_end_ * samples_per_sector) -
                                std::max(from, area_first_ * samples_per_sector);
    return (to - from) - std::max<std::int64_t>(inside, 0);
}

// The sectors from `first` on as the drive gives them, zeros where they lie
// outside the area; only the part inside is sent, in one command.
std::uint8_t* offset_correction::fetch(scsi_device& device, const read_mode_state& mode,
                                       std::int64_t first, int count) {
    const std::int64_t from = std::max(first, area_first_);
    const std::int64_t to = std::min(first + count, area_end_);
    std::uint8_t* buffer = device.transfer_buffer.data();
    if (from < to) {
        const auto sectors = static_cast<int>(to - from);
        scsi_send(device, chunk_read_cdb(mode, static_cast<std::uint32_t>(from), sectors),
                  static_cast<std::size_t>(sectors) * sector_bytes, data_direction::in,
                  message_kind::cdda_read);
        if (from == first && to == first + count) {
            return buffer;
        }
    }
    std::fill(staging_.begin(), staging_.end(), 0);
    if (from < to) {
        std::memcpy(staging_.data() + static_cast<std::size_t>(from - first) * sector_bytes, buffer,
                    static_cast<std::size_t>(to - from) * sector_bytes);
    }
    return staging_.data();
}

std::uint8_t* offset_correction::read_chunk(scsi_device& device, const read_mode_state& mode,
                                            std::int64_t first, int count) {
    const std::int64_t source = first + sector_shift_;
    if (skipped_bytes_ == 0) {
        return fetch(device, mode, source, count);
    }
    if (carried_sector_ != source) {
        std::memcpy(carried_.data(), fetch(device, mode, source, 1), sector_bytes);
    }
    const std::uint8_t* next = fetch(device, mode, source + 1, count);
    const std::size_t bytes = static_cast<std::size_t>(count) * sector_bytes;
    std::memcpy(assembled_.data(), carried_.data() + skipped_bytes_, sector_bytes - skipped_bytes_);
    std::memcpy(assembled_.data() + sector_bytes - skipped_bytes_, next,
                bytes - sector_bytes + skipped_bytes_);
    std::memcpy(carried_.data(), next + bytes - sector_bytes, sector_bytes);
    carried_sector_ = source + count;
    return assembled_.data();
}
