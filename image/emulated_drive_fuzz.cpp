// libFuzzer target: a run of arbitrary commands to the emulated drive.  Each
// command is taken from the input as: direction (1 byte), data length
// (2 bytes), CDB length (1 byte), the CDB, and for data going out the bytes
// sent.  A refusal must carry sense data, and audio that READ CD returns
// must be the image's.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/emulated_drive.h"
#include "image/disc_builder.h"

namespace {

disc_spec disc_spec_for_fuzzing() {
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
    return spec;
}

const built_disc& disc() {
    static const built_disc built = [] {
        char folder[] = "/tmp/vorka-fuzz-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            std::abort();
        }
        return build_disc(folder, disc_spec_for_fuzzing());
    }();
    return built;
}

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// A READ CD of audio sectors (expected type CD-DA, user data, no
// sub-channel) that the drive completed must have returned the image's
// samples.
void check_audio_read(const scsi_request& request, const scsi_outcome& outcome) {
    const auto cdb = request.cdb;
    if (outcome.what != scsi_outcome::kind::completed || cdb.size() < 12 || cdb[0] != 0xbe ||
        cdb[1] != 0x04 || cdb[9] != 0x10 || cdb[10] != 0) {
        return;
    }
    const std::uint32_t lba =
        static_cast<std::uint32_t>(cdb[2]) << 24 | cdb[3] << 16 | cdb[4] << 8 | cdb[5];
    const std::uint32_t count = static_cast<std::uint32_t>(cdb[6]) << 16 | cdb[7] << 8 | cdb[8];
    check(request.data.size() == std::size_t{count} * 2352);
    std::uint8_t expected[2352];
    for (std::uint32_t i = 0; i < count; ++i) {
        check(lba + i < disc().leadout);
        expected_raw_sector(disc(), lba + i, expected);
        check(std::equal(expected, expected + 2352, request.data.begin() + i * 2352));
    }
}

// Every refusal carries fixed-format sense data, as drives answer.
void check_sense(const scsi_outcome& outcome) {
    if (outcome.what == scsi_outcome::kind::status_error) {
        check(outcome.sense_length >= 14 && outcome.sense_length <= outcome.sense.size());
        check((outcome.sense[0] & 0x7f) == 0x70);
    }
}

struct reader {
    const std::uint8_t* at;
    const std::uint8_t* end;
    std::size_t left() const { return static_cast<std::size_t>(end - at); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string cue = disc().cue.string();
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
        check_sense(outcome);
        check_audio_read(request, outcome);
    }
    return 0;
}
