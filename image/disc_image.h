#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/cue_sheet.h"
#include "image/image_file.h"
#include "scsi/passthrough/passthrough.h"

inline constexpr std::uint32_t raw_sector_bytes = 2352;
inline constexpr std::uint32_t user_data_bytes = 2048;

struct image_track {
    int number = 0;
    track_mode mode = track_mode::audio;
    bool pre_emphasis = false;
    std::uint32_t start = 0;  // address of INDEX 01
    int session = 1;
    // Where the track's pregap (INDEX 00, or sectors made up by PREGAP)
    // begins; the same as `start` for a track without one.
    std::uint32_t pregap_start = 0;
    std::vector<std::uint32_t> indexes;  // INDEX 01, 02, ...: their addresses
    std::string isrc;                    // 12 characters, or empty
    cd_text_fields text;
};

// One session of the disc: its tracks from `first_track` (an index into
// disc_image::tracks) to the next session's first, and where its program
// area ends.  Between two sessions lie the lead-out of the one and the
// lead-in of the next, which the image does not hold and no read reaches.
struct image_session {
    int number = 1;
    std::size_t first_track = 0;
    std::uint32_t leadout = 0;
};

// The sectors from one session's lead-out to the next session's first
// track (its INDEX 01): 6750 of lead-out, 4500 of lead-in and the
// 150-sector pregap after the first session, 6900 after a later one.
inline constexpr std::uint32_t first_session_gap = 11400;
inline constexpr std::uint32_t later_session_gap = 6900;

// A run of consecutive sectors served the same way: from one stretch of a
// file, or made up (PREGAP, POSTGAP).
struct image_extent {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    track_mode mode = track_mode::audio;
    const image_file* file = nullptr;  // null for made-up sectors
    std::uint64_t byte_offset = 0;
    bool session_gap = false;  // between two sessions: never read
};

// A disc as a CUE sheet and its files (BIN, WAVE, AIFF) describe it.  Reads go straight
// into the caller's buffer; nothing is allocated per read.
class disc_image {
  public:
    // Opens the cue sheet and its files; the error names the cue sheet, the
    // line and the problem.
    static std::unique_ptr<disc_image> open(const std::string& cue_path, std::string& error);
    static std::unique_ptr<disc_image> from_sheet(const cue_sheet& sheet,
                                                  const std::string& cue_path, std::string& error);
    ~disc_image();
    disc_image(const disc_image&) = delete;
    disc_image& operator=(const disc_image&) = delete;

    // The cue sheet (when the image was opened from one) and every FILE.
    const std::vector<source_file>& sources() const { return sources_; }
    const std::vector<image_track>& tracks() const { return tracks_; }
    // The disc's last lead-out, after its last session.
    std::uint32_t leadout() const { return leadout_; }
    const std::vector<image_session>& sessions() const { return sessions_; }
    // The first sector of the run that lies between two sessions, if any.
    bool in_session_gap(std::uint32_t lba, std::uint32_t count, std::uint32_t& first) const;
    // The media catalog number (13 digits, or empty) and the disc's CD-Text.
    const std::string& catalog() const { return catalog_; }
    const cd_text_fields& text() const { return text_; }
    track_mode mode_at(std::uint32_t lba) const;
    // Whether every sector of the run is audio, or data; a sector between
    // sessions is neither.
    bool all_audio(std::uint32_t lba, std::uint32_t count) const;
    bool all_data(std::uint32_t lba, std::uint32_t count) const;

    // 2352 bytes per sector: audio samples little-endian, left then right;
    // data sectors raw, with sync, header and mode synthesised where the
    // file holds only user data (EDC/ECC then stay zero).  False when a file
    // cannot be read.
    bool read_raw(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) const;
    // 2048 bytes of user data per data sector.
    bool read_user_data(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) const;

  private:
    disc_image() = default;
    const image_extent& extent_at(std::uint32_t lba) const;

    std::vector<std::unique_ptr<image_file>> files_;
    std::vector<source_file> sources_;
    std::vector<image_track> tracks_;
    std::vector<image_extent> extents_;
    std::vector<image_session> sessions_;
    std::uint32_t leadout_ = 0;
    std::string catalog_;
    cd_text_fields text_;
};

// The 16 bytes that start a raw data sector: sync pattern, address in BCD
// minutes/seconds/frames, mode.
void write_sector_header(std::uint32_t lba, std::uint8_t mode, std::uint8_t* out);
