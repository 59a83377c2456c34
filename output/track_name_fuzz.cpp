// libFuzzer target: the output name template and the per-track names.  The
// first byte picks the format whose extension goes in for "%s"; the rest is
// the template.  A name that passes the check gives every track a name of
// its own when it holds a track conversion, and all tracks the same name
// when it holds none.

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "common/exit.h"
#include "common/program_name.h"
#include "output/format.h"
#include "output/track_name.h"

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

constexpr int format_rows = 6;
constexpr int tracks = 100;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    set_program_name("vorka");
    const format_entry& format = output_formats[data[0] % format_rows];
    const std::string name_template(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string name = expand_output_name(name_template, format);
    const std::size_t s_at = name_template.find("%s");
    check(s_at == std::string::npos
              ? name == name_template
              : name.size() == name_template.size() - 2 + std::string(format.extension).size());
    try {
        check_track_name_template(name, name_template);
    } catch (const exit_request& request) {
        check(request.status == 1);
        return 0;
    }
    std::set<std::string> names;
    for (int track = 1; track <= tracks; ++track) {
        const std::string track_name = format_track_name(name, track);
        check(track_name.find('\0') == std::string::npos || name.find('\0') != std::string::npos);
        names.insert(track_name);
    }
    check(names.size() == (names_each_track(name) ? tracks : 1u));
    return 0;
}
