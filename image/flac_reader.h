#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A FLAC file of CD audio (44100 Hz, 16-bit, stereo), decoded through
// libFLAC's stream decoder as it is read: never more than one FLAC frame
// (at most 65535 sample frames) is held in memory.
//
// Reading in order from the first sample never seeks, so the source may be
// a pipe; any other order seeks, which needs a regular file.  A file is
// accepted only when its STREAMINFO gives the number of samples, and every
// read delivers exactly the samples asked for or fails: a damaged frame, a
// stream that ends early or a frame of another shape is an error, never a
// gap or silence.
//
// Errors are returned as texts without the file's name, so that each
// caller can say where the file came from (a command-line argument, a line
// of a cue sheet).
class flac_reader {
  public:
    // The MD5 signature of the audio against the one STREAMINFO stores.
    enum class md5_verdict {
        unset,      // STREAMINFO stores none (a stream written to a pipe)
        unchecked,  // the audio was not read whole and in order
        matches,
        differs,
    };

    // Opens a regular file (without blocking, so a FIFO or a device is
    // refused as "not a regular file" before anything is read) and reads
    // its metadata.  Null with the reason in `error` when the file cannot
    // be opened, is no FLAC file or is not CD audio; the reason names what
    // the file holds.
    static std::unique_ptr<flac_reader> open(const std::string& path, std::string& error);

    // As open(), on a descriptor that is already open; the reader owns it
    // from now on (also on failure).  `already_read` holds the bytes that
    // were taken from the descriptor before (a pipe cannot give them back);
    // the stream continues with what the descriptor reads next.  Seeking is
    // possible when the descriptor is a regular file and nothing was
    // already read.
    static std::unique_ptr<flac_reader> adopt(int fd, std::vector<std::uint8_t> already_read,
                                              std::string& error);

    // Whether a file beginning with these bytes is FLAC: "fLaC", at the
    // start or after an ID3v2 tag.  Give at least id3v2_bytes(head, n) + 4
    // bytes for a tagged file.
    static bool is_flac(const std::uint8_t* head, std::size_t n);

    // The size of the ID3v2 tag the bytes begin with (header, body and
    // footer), 0 when they begin with none.
    static std::uint64_t id3v2_bytes(const std::uint8_t* head, std::size_t n);

    ~flac_reader();
    flac_reader(const flac_reader&) = delete;
    flac_reader& operator=(const flac_reader&) = delete;

    // Sample frames in the file, from STREAMINFO.
    std::uint64_t frames() const;

    // Frames first .. first + count - 1 (all inside the file) as CD-DA
    // bytes: little-endian 16-bit samples, left then right, 4 bytes a
    // frame.  false with the reason in `error`; after a failure every
    // later read fails too.
    bool read(std::uint64_t first, std::size_t count, std::uint8_t* out, std::string& error);

    // Once every frame has been read: decodes the rest of the stream (it
    // must hold no more audio) and gives the MD5 verdict.  false with the
    // reason when the stream goes on past its declared length or is
    // damaged there.  Nothing can be read afterwards.
    bool finish(md5_verdict& verdict, std::string& error);

    struct decoder_state;  // libFLAC's decoder and what its callbacks fill

  private:
    explicit flac_reader(std::unique_ptr<decoder_state> state);

    std::unique_ptr<decoder_state> state_;
};
