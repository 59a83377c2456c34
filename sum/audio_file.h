#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Audio files as vorka writes them: WAV, AIFF and AU with a header, raw PCM
// in either byte order without one.  Everything else that is no 44.1 kHz
// 16-bit stereo PCM is refused.

inline constexpr std::size_t frame_bytes = 4;

enum class audio_format { wav, aiff, au, pcm, mcp };

// The format of a "-f" name (pcm, mcp, wav, aiff, au; any case).
std::optional<audio_format> audio_format_named(const char* name);

// Where the audio lies in the file and in which byte order.
struct audio_placement {
    audio_format format = audio_format::pcm;
    std::uint64_t offset = 0;  // first byte of the audio
    std::uint64_t bytes = 0;
    bool big_endian = false;
};

// Reads the placement from the first bytes of a file of `file_size` bytes:
// by its header, or as the given raw format (a forced header format must
// be the one the header shows).  false with the reason in `error`.
bool place_audio(const std::uint8_t* head, std::size_t head_size, std::uint64_t file_size,
                 std::optional<audio_format> forced, audio_placement& placement,
                 std::string& error);

// An open audio file, read by frame position.
class audio_file {
  public:
    // Opens and checks the file; on failure prints "<program>: <path>:
    // <reason>" and returns null.
    static std::unique_ptr<audio_file> open(const std::string& path,
                                            std::optional<audio_format> forced);
    ~audio_file();
    audio_file(const audio_file&) = delete;
    audio_file& operator=(const audio_file&) = delete;

    const std::string& path() const { return path_; }
    std::uint64_t frames() const { return placement_.bytes / frame_bytes; }

    // Frames first .. first + count - 1 in CD-DA byte order (little-endian,
    // left then right); frames outside the file read as silence.  On a read
    // failure prints the path and the system's reason and returns false.
    bool read(std::int64_t first, std::size_t count, std::uint8_t* out) const;

  private:
    audio_file(std::string path, int fd, audio_placement placement)
        : path_(std::move(path)), fd_(fd), placement_(placement) {}

    std::string path_;
    int fd_ = -1;
    audio_placement placement_;
};
