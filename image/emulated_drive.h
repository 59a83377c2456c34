#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/disc_image.h"
#include "scsi/passthrough/passthrough.h"

// Sectors whose reads fail with MEDIUM ERROR, as ranges first..last.
using sector_ranges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Parses "first[-last][,...]" (decimal addresses); false on bad syntax.
bool parse_sector_ranges(const std::string& text, sector_ranges& ranges);

// A CD drive answering SCSI commands from a disc image.
class emulated_drive : public passthrough {
  public:
    emulated_drive(std::unique_ptr<disc_image> image, sector_ranges medium_errors);
    scsi_outcome send(const scsi_request& request) override;

    std::uint8_t density() const { return density_; }
    std::uint32_t block_length() const { return block_length_; }

  private:
    scsi_outcome inquiry(const scsi_request& request);
    scsi_outcome read_toc(const scsi_request& request);
    scsi_outcome mode_select(const scsi_request& request);
    scsi_outcome mode_sense(const scsi_request& request);
    scsi_outcome read10(const scsi_request& request);
    scsi_outcome read_cd(const scsi_request& request);
    scsi_outcome read_cdda(const scsi_request& request, std::uint32_t lba, std::uint32_t count);
    scsi_outcome check_range(std::uint32_t lba, std::uint32_t count) const;

    // What a CD driver asks when it probes and opens the drive
    // (emulated_drive_probe.cpp).
    scsi_outcome inquiry_vpd(const scsi_request& request);
    scsi_outcome read_toc_sessions(const scsi_request& request);
    static std::size_t capabilities_page(std::uint8_t* out);  // mode page 2Ah
    scsi_outcome read_capacity(const scsi_request& request);
    scsi_outcome get_configuration(const scsi_request& request);
    scsi_outcome get_event_status(const scsi_request& request);
    scsi_outcome read_disc_information(const scsi_request& request);
    scsi_outcome read_track_information(const scsi_request& request);

    std::unique_ptr<disc_image> image_;
    sector_ranges medium_errors_;
    std::uint8_t density_ = 0;
    std::uint32_t block_length_ = user_data_bytes;
};

// A drive that serves the CUE sheet at the path and its BIN files, with the
// medium errors VORKA_IMAGE_MEDIUM_ERRORS lists.  The error text names the
// cue sheet, the line and what is wrong.
passthrough_open_result open_emulated_drive(const std::string& cue_path);
