// libFuzzer target: any text as a cue sheet, laid out over BIN files of a
// few awkward sizes (empty, one sector, ending inside a sector, data-sized)
// and a WAVE file whose audio ends inside a sector.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "image/cue_sheet.h"
#include "image/disc_image.h"
#include "output/headers.h"

namespace {

const std::vector<std::string>& bin_files() {
    static const std::vector<std::string> paths = [] {
        char folder[] = "/tmp/vorka-fuzz-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            std::abort();
        }
        std::vector<std::string> made;
        const std::size_t sizes[] = {0, 2352, 3 * 2352 + 1001, 5 * 2048, 40 * 2352};
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            made.push_back(std::string(folder) + "/" + std::to_string(i) + ".bin");
            std::ofstream(made.back(), std::ios::binary) << std::string(sizes[i], '\x5a');
        }
        constexpr std::size_t wave_audio = 2 * 2352 + 1000;
        const auto header = make_wav_header(wave_audio);
        made.push_back(std::string(folder) + "/audio.wav");
        std::ofstream(made.back(), std::ios::binary)
            << std::string(header.begin(), header.end()) << std::string(wave_audio, '\x5a');
        return made;
    }();
    return paths;
}

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    cue_parse_result parsed = parse_cue_sheet(text, "/nonexistent/fuzz.cue");
    if (!parsed.error.empty()) {
        return 0;
    }
    const auto& bins = bin_files();
    for (std::size_t i = 0; i < parsed.sheet.files.size(); ++i) {
        parsed.sheet.files[i].path = bins[i % bins.size()];
    }
    std::string error;
    const auto image = disc_image::from_sheet(parsed.sheet, "fuzz.cue", error);
    if (image == nullptr) {
        return 0;
    }
    // Tracks in order, each starting on the disc.
    const auto& tracks = image->tracks();
    check(!tracks.empty());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        check(tracks[i].start < image->leadout());
        check(i == 0 ||
              (tracks[i].number > tracks[i - 1].number && tracks[i].start >= tracks[i - 1].start));
    }
    // Every sector of a short disc is readable both ways (the files keep
    // the sizes they had when the image was opened), and is audio or data,
    // except between sessions, where it is neither.
    std::vector<std::uint8_t> sector(raw_sector_bytes);
    const std::uint32_t last = std::min<std::uint32_t>(image->leadout(), 200);
    for (std::uint32_t lba = 0; lba < last; ++lba) {
        if (std::uint32_t first = 0; image->in_session_gap(lba, 1, first)) {
            check(!image->all_audio(lba, 1) && !image->all_data(lba, 1));
            continue;
        }
        check(image->read_raw(lba, 1, sector.data()));
        check(image->all_audio(lba, 1) != image->all_data(lba, 1));
        if (image->all_data(lba, 1)) {
            check(image->read_user_data(lba, 1, sector.data()));
        }
    }
    return 0;
}
