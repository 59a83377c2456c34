#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/flac_reader.h"
#include "sum/input_file.h"

// Audio files as rippers write them: WAV, AIFF, AU and FLAC, recognised by
// their headers, and raw PCM in either byte order without one.  Everything
// else that is no 44.1 kHz 16-bit stereo audio is refused.

inline constexpr std::size_t frame_bytes = 4;

enum class audio_format { wav, aiff, au, flac, pcm, mcp };

// The format of a "-f" name (pcm, mcp, wav, aiff, au, flac; any case).
std::optional<audio_format> audio_format_named(const char* name);

// The size to give place_audio for a pipe, whose size nobody knows.
inline constexpr std::uint64_t unknown_file_size = std::numeric_limits<std::uint64_t>::max();

// Where the audio lies in the file and in which byte order.  A FLAC file's
// audio is found by its decoder.
struct audio_placement {
    audio_format format = audio_format::pcm;
    std::uint64_t offset = 0;  // first byte of the audio
    std::uint64_t bytes = 0;
    bool big_endian = false;
    // false for a pipe of raw PCM, or a header that leaves the size open:
    // the end of the stream tells the length.
    bool length_known = true;
};

// Reads the placement from the first bytes of a file of `file_size` bytes
// (unknown_file_size for a pipe): by its header, or as the given raw format
// (a forced header format must be the one the header shows).  false with
// the reason in `error`.
bool place_audio(const std::uint8_t* head, std::size_t head_size, std::uint64_t file_size,
                 std::optional<audio_format> forced, audio_placement& placement,
                 std::string& error);

// An open audio file, read by frame position.  A pipe is read once, in
// order.  Failures are printed as "<program>: <path>: <reason>".
class audio_file {
  public:
    // Opens and checks the file; on failure prints the reason and returns
    // null.
    static std::unique_ptr<audio_file> open(const std::string& path,
                                            std::optional<audio_format> forced);
    ~audio_file();
    audio_file(const audio_file&) = delete;
    audio_file& operator=(const audio_file&) = delete;

    const std::string& path() const { return path_; }
    bool is_pipe() const { return kind_ == input_kind::pipe; }

    // Sample frames in the file.  For a stream whose length only its end
    // tells, 0 until expect_frames() names the length it must have.
    std::uint64_t frames() const;
    bool length_known() const { return flac_ != nullptr || placement_.length_known; }
    void expect_frames(std::uint64_t frames) { expected_frames_ = frames; }

    // Frames first .. first + count - 1 in CD-DA byte order (little-endian,
    // left then right); frames outside the file read as silence.  A pipe
    // must be read in order.  On a failure prints the reason and returns
    // false.
    bool read(std::int64_t first, std::size_t count, std::uint8_t* out);

    // Once every frame has been read in order: checks what only the end
    // can tell (a stream of unknown length ends where it must; a FLAC
    // file's audio matches its MD5 signature).  On a failure prints the
    // reason and returns false.
    bool finish();

  private:
    audio_file(std::string path, int fd, input_kind kind)
        : path_(std::move(path)), fd_(fd), kind_(kind) {}

    bool read_audio(std::uint64_t from, std::size_t count, std::uint8_t* out);
    // Bytes from `position` of a pipe on: fewer than `size` at its end, -1
    // after a failure (printed).
    ssize_t read_stream(std::uint64_t position, std::uint8_t* to, std::size_t size);
    bool fail(const std::string& reason) const;

    std::string path_;
    int fd_ = -1;
    input_kind kind_ = input_kind::file;
    audio_placement placement_;
    std::unique_ptr<flac_reader> flac_;  // a FLAC file: its decoder owns the descriptor
    std::uint64_t expected_frames_ = 0;
    // A pipe: the bytes read with its header, and how far it has been read.
    std::vector<std::uint8_t> head_;
    std::uint64_t consumed_ = 0;
};
