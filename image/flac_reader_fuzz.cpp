// libFuzzer target: any bytes as a FLAC file, read in order from a regular
// file and from a pipe, and read out of order by seeking.  Never a crash or
// an out-of-bounds read; a file read cleanly decodes to exactly the samples
// its STREAMINFO declares (counted once more by libFLAC on its own); a pipe
// gives what the file gives; a seek lands on the samples the reading in
// order found there.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/scratch_file_test_util.h"
#include "image/flac_reader.h"
#include "image/flac_test_util.h"

namespace {

// A stream may declare, and hold in frames of constant samples, far more
// audio than its size; beyond this many frames it is not read whole.
constexpr std::uint64_t largest_read = 1 << 18;
constexpr std::size_t frame_bytes = 4;

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

const scratch_file& flac_file() {
    static const scratch_file file("flac");
    std::signal(SIGPIPE, SIG_IGN);  // a refused pipe leaves its writer with nobody
    return file;
}

struct read_whole {
    bool opened = false;
    bool clean = false;
    std::uint64_t frames = 0;
    flac_reader::md5_verdict verdict = flac_reader::md5_verdict::unchecked;
    std::vector<std::uint8_t> audio;
};

read_whole read_all(std::unique_ptr<flac_reader> reader) {
    read_whole result;
    if (reader == nullptr) {
        return result;
    }
    result.opened = true;
    result.frames = reader->frames();
    check(result.frames > 0);
    if (result.frames > largest_read) {
        return result;
    }
    result.audio.resize(result.frames * frame_bytes);
    std::string error;
    constexpr std::size_t piece = 1000;
    for (std::uint64_t at = 0; at < result.frames; at += piece) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece, result.frames - at));
        if (!reader->read(at, count, result.audio.data() + at * frame_bytes, error)) {
            check(!error.empty());
            return result;
        }
    }
    result.clean = reader->finish(result.verdict, error);
    check(result.clean ? result.verdict != flac_reader::md5_verdict::unchecked : !error.empty());
    return result;
}

// The bytes through a pipe, the first `taken` of them already read by
// whoever recognised the format.
read_whole through_pipe(const std::uint8_t* data, std::size_t size, std::size_t taken) {
    int ends[2];
    check(::pipe(ends) == 0);
    std::thread writer([&] {
        for (std::size_t done = taken; done < size;) {
            const ssize_t put = ::write(ends[1], data + done, size - done);
            if (put <= 0) {
                break;  // the reader has gone
            }
            done += static_cast<std::size_t>(put);
        }
        ::close(ends[1]);
    });
    std::string error;
    read_whole result =
        read_all(flac_reader::adopt(ends[0], std::vector<std::uint8_t>(data, data + taken), error));
    writer.join();
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    flac_file().hold(data, size);

    std::string error;
    const read_whole file = read_all(flac_reader::open(flac_file().path(), error));
    check(file.opened || !error.empty());
    if (file.clean) {
        check(decoded_flac_samples(data, size) == file.frames);
    }

    const read_whole piped = through_pipe(data, size, size / 3);
    check(piped.opened == file.opened && piped.clean == file.clean);
    if (file.clean) {
        check(piped.audio == file.audio && piped.verdict == file.verdict);
    }

    if (!file.clean) {
        return 0;
    }
    const auto reader = flac_reader::open(flac_file().path(), error);
    check(reader != nullptr);
    const std::uint64_t last = file.frames - 1;
    const std::uint64_t starts[] = {last, 0, file.frames / 2, file.frames / 3, last / 7};
    for (const std::uint64_t first : starts) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(700, file.frames - first));
        std::vector<std::uint8_t> got(count * frame_bytes);
        if (!reader->read(first, count, got.data(), error)) {
            break;  // a damaged seek table may make a seek fail; then every read fails
        }
        check(std::equal(got.begin(), got.end(), file.audio.begin() + first * frame_bytes));
    }
    return 0;
}
