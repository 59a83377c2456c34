#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Where an encoded format's stream goes and what it describes.
struct encoded_stream {
    int fd = -1;
    std::string name;  // the file's name in messages ("standard output" for -o -)
    // The run opened the file itself: when it is a regular file, the stream
    // may seek back and complete its header at the end.
    bool own_file = false;
    std::uint64_t sample_frames = 0;  // the planned audio, 4 bytes a frame
    std::vector<std::string> tags;    // "NAME=value"
};

// A format whose audio goes through an encoder instead of behind a header.
// write takes audio in CD-DA order (16-bit little-endian stereo frames);
// finish completes the stream.  Every failure is reported with the stream's
// name and ends the run with status 1.  A stream dropped without finish (the
// run ends early, by a failure or an interrupt) keeps as much of the audio as
// it can.
class audio_encoder {
  public:
    virtual ~audio_encoder() = default;
    virtual void write(const std::uint8_t* data, std::size_t bytes) = 0;
    virtual void finish() = 0;
};

using encoder_starter = std::unique_ptr<audio_encoder> (*)(const encoded_stream& stream);
