#include "fade/fade_engine.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/exit.h"
#include "common/interrupt.h"
#include "common/program_name.h"
#include "common/write_all.h"
#include "fade/gain_steps.h"
#include "fade/scale.h"

namespace {

constexpr std::size_t block_bytes = fade_block_frames * frame_bytes;

struct free_deleter {
    void operator()(void* block) const { std::free(block); }
};

// Only to learn, once, that the file can be positioned at all: the blocks
// themselves are read and written at their offsets.
void seek_to_frame(int fd, std::int64_t frame) {
    if (::lseek(fd, static_cast<off_t>(frame * frame_bytes), SEEK_SET) < 0) {
        exit_with_errno("lseek()");
    }
}

// Reads until `size` bytes have arrived.  A read may return less than asked
// for without reaching the end; writing the block back after one short read
// would store stale buffer bytes over the file.
void read_block(int fd, unsigned char* block, std::size_t size, off_t offset) {
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got =
            ::pread(fd, block + filled, size - filled, offset + static_cast<off_t>(filled));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            exit_with_errno("read()");
        }
        if (got == 0) {
            // The file has shrunk under us since it was sized: the frames
            // still to fade no longer exist, and writing the block back
            // would grow the file again with bytes that were never read.
            std::fprintf(stderr, "%s: read(): file ended before the end of the fade\n",
                         program_name);
            throw exit_request{1};
        }
        filled += static_cast<std::size_t>(got);
    }
}

// The file's samples are little-endian; on a big-endian host they are turned
// round before and after scaling.
void swap_to_host_order(std::int16_t* samples, std::size_t count) {
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto bits = static_cast<std::uint16_t>(samples[i]);
            samples[i] = static_cast<std::int16_t>((bits >> 8) | (bits << 8));
        }
    } else {
        (void)samples;
        (void)count;
    }
}

// Scales the frames of one block, a run of equal gains at a time.
void fade_frames(std::int16_t* samples, std::int64_t frames, gain_stepper& steps,
                 std::int32_t unity_gain) {
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t run = std::min(steps.frames_at_current_gain(), frames - done);
        scale_samples(samples + done * 2, static_cast<std::size_t>(run * 2), steps.gain(),
                      unity_gain);
        steps.advance(run);
        done += run;
    }
}

}  // namespace

void fade_region(int fd, std::int32_t unity_gain, std::int64_t start_frame, std::int32_t start_gain,
                 std::int64_t end_frame, std::int32_t end_gain) {
    const std::unique_ptr<std::int16_t, free_deleter> buffer(
        static_cast<std::int16_t*>(alloc_or_exit(block_bytes)));
    std::int16_t* const samples = buffer.get();
    auto* const bytes = reinterpret_cast<unsigned char*>(samples);

    gain_stepper steps(start_gain, end_gain, end_frame - start_frame);
    std::int64_t block_start = start_frame;
    std::int64_t frames_left = end_frame - start_frame + 1;

    seek_to_frame(fd, block_start);
    while (frames_left > 0) {
        // A signal noted by the program's handler (common/interrupt) ends
        // the run here, between two whole blocks.  Caught, it no longer cuts
        // a block's write short the way a fatal signal does (the kernel
        // stops copying a write into the file when one arrives), so no block
        // is ever left faded in its first pages only: a click that a second
        // run could not mend.
        stop_if_interrupted();
        const std::int64_t frames = std::min(frames_left, fade_block_frames);
        const auto size = static_cast<std::size_t>(frames * frame_bytes);
        const auto offset = static_cast<off_t>(block_start * frame_bytes);
        read_block(fd, bytes, size, offset);
        swap_to_host_order(samples, static_cast<std::size_t>(frames * 2));
        fade_frames(samples, frames, steps, unity_gain);
        swap_to_host_order(samples, static_cast<std::size_t>(frames * 2));
        write_all_at(fd, bytes, size, offset, "write()");
        block_start += frames;
        frames_left -= frames;
    }
}
