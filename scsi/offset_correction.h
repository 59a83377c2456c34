#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "scsi/channel.h"
#include "scsi/read_mode.h"

// A drive's read offset correction c, applied while reading audio: output
// sample p is disc sample p + c.  The audio of sectors s..e comes from
// sectors s + q .. e + q, with q = floor(c / 588), and from one sector more
// when r = c - 588q is not 0: the first 4r bytes of the first are dropped,
// 4r bytes of the extra one kept.  The extra sector of one chunk is the
// first of the next, of the same range or of the range that follows it on
// the disc, so that each sector is read once.  Sectors outside the audio
// area are never sent to the drive: their samples are zeros.
class offset_correction {
  public:
    explicit offset_correction(int samples);

    int samples() const { return samples_; }

    // The sectors the drive may be asked for while the range first..end is
    // read: the audio area and the range itself.
    void set_area(std::int64_t area_first, std::int64_t area_end, std::int64_t first,
                  std::int64_t end);
    // How many samples of the range first..end come from outside the area.
    std::int64_t samples_outside_area(std::int64_t first, std::int64_t end) const;

    // The corrected audio of the sectors from `first` on, `count` of them
    // (at most max_read_sectors), read with the read command in force.
    // Valid until the next read.
    std::uint8_t* read_chunk(scsi_device& device, const read_mode_state& mode, std::int64_t first,
                             int count);

    // After a read that was not corrected (a data track): nothing read
    // before is carried on.
    void forget() { carried_sector_ = no_sector; }

  private:
    static constexpr std::int64_t no_sector = std::numeric_limits<std::int64_t>::min();
    std::uint8_t* fetch(scsi_device& device, const read_mode_state& mode, std::int64_t first,
                        int count);

    int samples_;
    std::int64_t sector_shift_;  // q
    std::size_t skipped_bytes_;  // 4r
    std::int64_t area_first_ = 0;
    std::int64_t area_end_ = 0;
    std::vector<std::uint8_t> carried_;  // the extra sector of the last chunk
    std::int64_t carried_sector_ = no_sector;
    std::vector<std::uint8_t> staging_;    // a fetch that lies partly outside the area
    std::vector<std::uint8_t> assembled_;  // the chunk put together from both
};
