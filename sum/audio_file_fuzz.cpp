// libFuzzer target: any bytes as an audio file, recognised by its header
// and as each format named with -f, from a regular file and through a
// pipe.  Never a crash or an out-of-bounds read; an accepted file has the
// samples it reports: a WAV, AIFF, AU or raw file's audio lies inside the
// file, a FLAC file decodes to exactly its declared length (counted once
// more by libFLAC on its own); what a pipe delivers cleanly, the same bytes
// in a file deliver too.

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/program_name.h"
#include "common/scratch_file_test_util.h"
#include "image/flac_test_util.h"
#include "sum/audio_file.h"

namespace {

// A FLAC stream can declare (and hold, in frames of constant samples) far
// more audio than its size; beyond this many frames it is not read whole.
constexpr std::uint64_t largest_read = 1 << 18;

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

const scratch_file& audio_file_on_disk() {
    static const scratch_file file("audio");
    std::signal(SIGPIPE, SIG_IGN);  // a refused pipe leaves its writer with nobody
    set_program_name("vorkasum");
    return file;
}

// What a clean read of the whole file gave.
struct read_whole {
    bool clean = false;
    std::uint64_t frames = 0;
    std::vector<std::uint8_t> audio;
};

read_whole read_all(audio_file& file) {
    read_whole result;
    result.frames = file.frames();
    if (result.frames > largest_read) {
        return result;
    }
    result.audio.resize(result.frames * frame_bytes);
    constexpr std::size_t piece = 4099;  // no multiple of any block size
    for (std::uint64_t at = 0; at < result.frames; at += piece) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece, result.frames - at));
        if (!file.read(static_cast<std::int64_t>(at), count,
                       result.audio.data() + at * frame_bytes)) {
            return result;
        }
    }
    result.clean = file.finish();
    return result;
}

// The same bytes through a pipe, as a shell's <(...) gives them.
read_whole through_pipe(const std::uint8_t* data, std::size_t size,
                        std::optional<audio_format> forced, std::uint64_t expected) {
    int ends[2];
    check(::pipe(ends) == 0);
    std::thread writer([&] {
        for (std::size_t done = 0; done < size;) {
            const ssize_t put = ::write(ends[1], data + done, size - done);
            if (put <= 0) {
                break;  // the reader has gone
            }
            done += static_cast<std::size_t>(put);
        }
        ::close(ends[1]);
    });
    read_whole result;
    {
        const auto file = audio_file::open("/dev/fd/" + std::to_string(ends[0]), forced);
        if (file != nullptr) {
            check(file->is_pipe());
            if (!file->length_known()) {
                file->expect_frames(expected);
            }
            result = read_all(*file);
        }
    }
    ::close(ends[0]);
    writer.join();
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& scratch = audio_file_on_disk().path();
    audio_file_on_disk().hold(data, size);
    const std::optional<audio_format> formats[] = {
        std::nullopt,       audio_format::wav, audio_format::aiff, audio_format::au,
        audio_format::flac, audio_format::pcm, audio_format::mcp};
    for (const std::optional<audio_format>& forced : formats) {
        read_whole from_file;
        bool is_flac = false;
        if (const auto file = audio_file::open(scratch, forced)) {
            check(!file->is_pipe() && file->length_known());
            audio_placement placement;
            std::string error;
            const bool placed = place_audio(data, size, size, forced, placement, error);
            is_flac = placed && placement.format == audio_format::flac;
            if (!is_flac) {
                // The audio lies inside the file (none where a header points
                // past the end) and is what the file reports.
                check(placed &&
                      (placement.bytes == 0 || placement.offset + placement.bytes <= size));
                check(file->frames() * frame_bytes == placement.bytes);
            }
            from_file = read_all(*file);
            check(from_file.clean || is_flac || from_file.frames > largest_read);
            if (is_flac && from_file.clean) {
                check(decoded_flac_samples(data, size) == from_file.frames);
            }
            // Frames before and after the file read as silence, also after
            // a seek; inside, what the pass in order read.
            const auto again = audio_file::open(scratch, forced);
            check(again != nullptr);
            std::vector<std::uint8_t> window(12 * frame_bytes, 0x55);
            const std::int64_t start = static_cast<std::int64_t>(from_file.frames / 2) - 6;
            if (from_file.clean && again->read(start, 12, window.data())) {
                for (std::int64_t i = 0; i < 12; ++i) {
                    const std::int64_t frame = start + i;
                    const bool inside =
                        frame >= 0 && static_cast<std::uint64_t>(frame) < from_file.frames;
                    for (std::size_t b = 0; b < frame_bytes; ++b) {
                        const std::uint8_t want =
                            inside
                                ? from_file.audio[static_cast<std::size_t>(frame) * frame_bytes + b]
                                : 0;
                        check(window[static_cast<std::size_t>(i) * frame_bytes + b] == want);
                    }
                }
            }
        }
        if (forced == std::nullopt || forced == audio_format::pcm || forced == audio_format::mcp) {
            const read_whole piped = through_pipe(data, size, forced, from_file.frames);
            if (piped.clean) {
                check(from_file.clean && piped.frames == from_file.frames &&
                      piped.audio == from_file.audio);
            }
        }
    }
    return 0;
}
