// libFuzzer target: the fade tool's offsets.  The first five bytes give the
// file's size in frames, the rest is the offset text.  Every offset found
// must lie inside the file, and its time text must read back as itself.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fade/offsets.h"

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// " m:ss.fffff": minutes padded to two characters, seconds below 60.
bool well_formed_time(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon < 2 || text.size() != colon + 9 ||
        text[colon + 3] != '.') {
        return false;
    }
    const std::string seconds = text.substr(colon + 1, 2);
    return text.find_first_not_of(" 0123456789:.") == std::string::npos && seconds < "60";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    std::int64_t size_frames = 0;
    for (int i = 0; i < 5; ++i) {
        size_frames = size_frames << 8 | data[i];
    }
    const std::string text(reinterpret_cast<const char*>(data) + 5, size - 5);
    const std::int64_t offset = parse_offset(text.c_str(), size_frames);
    if (offset == -1) {
        return 0;
    }
    check(offset >= 0 && offset < size_frames);
    // The same frame written as a count, counted back from the end, and as
    // the report's time text.
    check(parse_offset(std::to_string(offset).c_str(), size_frames) == offset);
    // Counted from the end, -1 is the last frame; no count reaches frame 0.
    check(offset == 0 || parse_offset(("-" + std::to_string(size_frames - offset)).c_str(),
                                      size_frames) == offset);
    const std::string time = format_play_time(offset);
    check(well_formed_time(time));
    check(parse_offset(time.c_str(), size_frames) == offset);
    return 0;
}
