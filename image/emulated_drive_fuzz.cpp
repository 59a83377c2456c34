// libFuzzer target: a run of arbitrary commands to the emulated drive.  Each
// command is taken from the input as: direction (1 byte), data length
// (2 bytes), CDB length (1 byte), the CDB, and for data going out the bytes
// sent.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/emulated_drive.h"
#include "tools/disc_builder.h"

namespace {

std::string built_cue() {
    char folder[] = "/tmp/vorka-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::abort();
    }
    disc_spec spec;
    spec.tracks = {
        {.mode = track_mode::audio, .sectors = 40, .pre_emphasis = true},
        {.mode = track_mode::mode1_2048, .sectors = 10, .pregap = 5, .new_file = true},
        {.mode = track_mode::mode2_2352, .sectors = 8, .postgap = 3, .new_file = true},
        {.mode = track_mode::audio,
         .sectors = 20,
         .index0 = 4,
         .new_file = true,
         .motorola = true,
         .cut_bytes = 100},
    };
    return build_disc(folder, spec).cue.string();
}

struct reader {
    const std::uint8_t* at;
    const std::uint8_t* end;
    std::size_t left() const { return static_cast<std::size_t>(end - at); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string cue = built_cue();
    passthrough_open_result opened = open_emulated_drive(cue);
    if (opened.device == nullptr) {
        std::abort();
    }
    std::vector<std::uint8_t> buffer(65536 + 16);
    reader in{data, data + size};
    while (in.left() >= 4) {
        const auto direction = static_cast<data_direction>(in.at[0] % 3);
        const std::size_t length = std::size_t{in.at[1]} << 8 | in.at[2];
        const std::size_t cdb_length = std::min<std::size_t>(in.at[3] % 17, in.left() - 4);
        in.at += 4;
        scsi_request request;
        request.cdb = {in.at, cdb_length};
        in.at += cdb_length;
        request.direction = direction;
        request.data = {buffer.data(), length};
        if (direction == data_direction::out) {
            const std::size_t n = std::min(length, in.left());
            std::copy_n(in.at, n, buffer.begin());
            in.at += n;
        }
        const scsi_outcome outcome = opened.device->send(request);
        if (outcome.sense_length > outcome.sense.size()) {
            std::abort();
        }
    }
    return 0;
}
