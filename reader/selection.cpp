#include "reader/selection.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "common/exit.h"
#include "common/program_name.h"

namespace {

constexpr std::int64_t first_track = 1;
constexpr std::int64_t last_track = 100;
// A track number with more digits than this holds stays at it: no disc has
// such a track, and its index can never turn negative.
constexpr std::int64_t largest_track_number = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void track_list_error() {
    std::fputs("Track list format:  a | a,b | [a]-[b] ...\n", stderr);
    std::fputs("Example:  -3,5,8-10,12-\n", stderr);
    throw exit_request{1};
}

[[noreturn]] void syntax_error() {
    std::fprintf(stderr, "%s: Syntax error in track list.\n", program_name);
    track_list_error();
}

// One item of the list while it is read.
struct list_item {
    std::int64_t number = first_track;  // the current number; an empty item is track 1
    std::int64_t range_first = 0;
    bool is_range = false;
};

void close_item(const list_item& item, track_selection& selection) {
    if (!item.is_range) {
        if (item.number < first_track) {
            syntax_error();
        }
        append_track_range(selection, item.number, item.number);
    } else if (item.range_first < first_track) {
        syntax_error();
    } else if (item.number >= item.range_first) {
        append_track_range(selection, item.range_first, item.number);
    }
}

}  // namespace

void append_track_range(track_selection& selection, std::int64_t first, std::int64_t last) {
    for (std::int64_t track = first; track <= last; ++track) {
        if (selection.count >= max_selected_tracks) {
            std::fprintf(stderr, "%s: Too many tracks specified (maximum is %d).\n", program_name,
                         max_selected_tracks);
            throw exit_request{1};
        }
        selection.indexes[static_cast<std::size_t>(selection.count++)] =
            static_cast<std::int32_t>(track - 1);
    }
}

void parse_track_list(const std::string& track_list, track_selection& selection) {
    list_item item;
    for (std::size_t at = 0;; ++at) {
        const char c = at < track_list.size() ? track_list[at] : '\0';
        if (c >= '0' && c <= '9') {
            item.number = 0;
            for (; at < track_list.size() && track_list[at] >= '0' && track_list[at] <= '9'; ++at) {
                item.number =
                    std::min(item.number * 10 + (track_list[at] - '0'), largest_track_number);
            }
            --at;
        } else if (c == '-') {
            if (item.is_range) {
                syntax_error();
            }
            item.range_first = item.number;
            item.number = last_track;
            item.is_range = true;
        } else if (c == ',' || c == '\0') {
            close_item(item, selection);
            if (c == '\0') {
                return;
            }
            item = list_item{};
        } else {
            std::fprintf(stderr, "%s: Illegal character \"%c\" in track list.\n", program_name, c);
            track_list_error();
        }
    }
}

void make_track_selection(reader_settings& settings, track_selection& selection) {
    const bool start_given = settings.start_sector >= 0;
    const bool end_given = settings.end_sector >= 0;
    if (!start_given && !end_given) {
        parse_track_list(settings.track_list, selection);
        return;
    }
    if (start_given != end_given) {
        std::fprintf(stderr, "%s: -s and -e must be used together.\n", program_name);
        throw exit_request{1};
    }
    if (settings.start_sector > settings.end_sector) {
        std::fprintf(stderr, "%s: end sector must not be smaller than start sector.\n",
                     program_name);
        throw exit_request{1};
    }
    settings.end_sector += 1;  // 64 bits: the bound after sector 2^31 - 1 still fits
    selection.count = 1;
}
