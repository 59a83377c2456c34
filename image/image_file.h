#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/cue_sheet.h"
#include "image/flac_reader.h"
#include "scsi/passthrough/passthrough.h"

// The bytes one FILE of a cue sheet gives the disc's sectors: the whole of a
// BIN, or the audio of a WAVE, AIFF or FLAC file (44.1 kHz, 16-bit, stereo),
// FLAC decoded as it is read.
class image_file {
  public:
    // Finds and opens the file and reads its header; the error names the cue
    // sheet, the FILE line, the file and the problem.
    static std::unique_ptr<image_file> open(const cue_file& file, const std::string& cue_path,
                                            std::string& error);
    ~image_file();
    image_file(const image_file&) = delete;
    image_file& operator=(const image_file&) = delete;

    const source_file& identity() const { return identity_; }
    // How many bytes the sectors are made of, as they were when opened.
    std::uint64_t bytes() const { return data_bytes_; }
    // Audio samples stored most significant byte first (MOTOROLA, AIFF).
    bool big_endian() const { return big_endian_; }
    // A file of audio alone, which cannot hold data sectors.
    bool audio_only() const { return audio_only_; }
    // What the file holds, for messages: "WAVE", "AIFF", "FLAC" or "" for a BIN.
    const char* kind() const { return kind_; }

    // `length` bytes from `offset`; what lies past bytes() reads as zeros,
    // but a byte before it that is no longer there (the file has shrunk, a
    // FLAC stream is damaged) is a failed read, with errno set.  Reads of a
    // FLAC file are of whole sample frames.
    bool read(std::uint64_t offset, std::size_t length, std::uint8_t* out) const;

  private:
    image_file() = default;
    bool read_flac(std::uint64_t offset, std::size_t length, std::uint8_t* out) const;

    int fd_ = -1;
    std::unique_ptr<flac_reader> flac_;
    source_file identity_;
    std::uint64_t data_offset_ = 0;
    std::uint64_t data_bytes_ = 0;
    bool big_endian_ = false;
    bool audio_only_ = false;
    const char* kind_ = "";
};

// Opens a file that must be a regular file.  Non-blocking, so that a FIFO
// named in its place fails here instead of waiting for a writer.  Gives its
// size and its identity; -1 with errno set, or with `regular` false.
int open_regular_file(const std::string& path, std::uint64_t& size, source_file& identity,
                      bool& regular);

// Reads `length` bytes at `offset`, also across short reads; what lies at or
// past `end` reads as zeros, a byte before it that is missing fails (EIO).
bool read_span(int fd, std::uint8_t* out, std::size_t length, std::uint64_t offset,
               std::uint64_t end);
