#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/disc_image.h"
#include "image/read_cd_fields.h"
#include "scsi/passthrough/passthrough.h"

// Sectors whose reads fail with MEDIUM ERROR, as ranges first..last.
using sector_ranges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Parses "first[-last][,...]" (decimal addresses); false on bad syntax.
bool parse_sector_ranges(const std::string& text, sector_ranges& ranges);

// The kinds of drive the emulation can be, as VORKA_IMAGE_DRIVE names them:
// scsi knows every mode command; atapi (SATA and USB drives) only the 10-byte
// ones; mmc is atapi without a changeable block length, so that READ CD is
// its only way to audio and raw sectors.
enum class drive_kind { scsi, atapi, mmc };

// "scsi", "atapi" or "mmc"; false for anything else.
bool parse_drive_kind(const std::string& text, drive_kind& kind);

// The read offset the emulation can have: as far as a reader can correct.
inline constexpr std::int32_t max_read_offset = 5880;

// A signed decimal number of samples within +-max_read_offset; false for
// anything else.
bool parse_read_offset(const std::string& text, std::int32_t& samples);

// A CD drive answering SCSI commands from a disc image.
class emulated_drive : public passthrough {
  public:
    // A drive with a read offset of c samples delivers audio c samples
    // early, as a drive listed with that AccurateRip correction does.
    emulated_drive(std::unique_ptr<disc_image> image, sector_ranges medium_errors,
                   drive_kind kind = drive_kind::scsi, std::int32_t read_offset = 0);
    scsi_outcome send(const scsi_request& request) override;

    std::uint8_t density() const { return density_; }
    std::uint32_t block_length() const { return block_length_; }

  private:
    scsi_outcome inquiry(const scsi_request& request);
    scsi_outcome read_toc(const scsi_request& request);
    scsi_outcome mode_select(const scsi_request& request);
    scsi_outcome mode_select10(const scsi_request& request);
    scsi_outcome set_block_format(std::span<const std::uint8_t> descriptor);
    scsi_outcome mode_sense(const scsi_request& request);
    scsi_outcome mode_sense10(const scsi_request& request);
    scsi_outcome read10(const scsi_request& request);
    scsi_outcome read_cd(const scsi_request& request);
    scsi_outcome read_cd_fields(const scsi_request& request, std::uint32_t lba,
                                std::uint32_t count);
    sector_kind kind_of_sector(std::uint32_t lba, const std::uint8_t* raw) const;
    scsi_outcome read_cdda(const scsi_request& request, std::uint32_t lba, std::uint32_t count);
    // Raw sectors from the image; the last one read is the drive's current
    // position.
    scsi_outcome read_raw_sectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* out);
    scsi_outcome check_range(std::uint32_t lba, std::uint32_t count) const;
    scsi_outcome read_full_toc(const scsi_request& request);
    // Raw sectors as the drive delivers them: audio shifted by the read
    // offset, data as the image holds it.
    bool read_sectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* out);
    bool read_shifted_audio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out);

    // What a CD driver asks when it probes and opens the drive
    // (emulated_drive_probe.cpp).
    scsi_outcome inquiry_vpd(const scsi_request& request);
    scsi_outcome read_toc_sessions(const scsi_request& request);

    // The sub-channel's data (emulated_drive_subchannel.cpp): READ
    // SUB-CHANNEL and the CD-Text of READ TOC.
    scsi_outcome read_sub_channel(const scsi_request& request);
    scsi_outcome read_toc_cd_text(const scsi_request& request);
    // The mode pages that MODE SENSE appends for its page code (byte 2):
    // the capabilities page 2Ah, alone or among all pages (3Fh).
    static constexpr std::size_t capabilities_page_bytes = 22;
    static std::size_t mode_pages(std::uint8_t page_code, std::uint8_t* out);
    scsi_outcome read_capacity(const scsi_request& request);
    scsi_outcome get_configuration(const scsi_request& request);
    scsi_outcome get_event_status(const scsi_request& request);
    scsi_outcome read_disc_information(const scsi_request& request);
    scsi_outcome read_track_information(const scsi_request& request);

    std::unique_ptr<disc_image> image_;
    sector_ranges medium_errors_;
    drive_kind kind_;
    std::int32_t read_offset_;
    std::vector<std::uint8_t> shift_buffer_;  // grows to the longest shifted read
    std::uint8_t density_ = 0;
    std::uint32_t block_length_ = user_data_bytes;
    std::uint32_t position_ = 0;         // the sector read last
    std::vector<std::uint8_t> sectors_;  // raw sectors of a READ CD being laid out
};

// A drive that serves the CUE sheet at the path and its BIN files, with the
// medium errors VORKA_IMAGE_MEDIUM_ERRORS lists, of the kind VORKA_IMAGE_DRIVE
// names (scsi when unset), with the read offset VORKA_IMAGE_READ_OFFSET gives
// (0 when unset).  The error text names the variable, or the cue sheet, the
// line and what is wrong.
passthrough_open_result open_emulated_drive(const std::string& cue_path);
