// libFuzzer target: the reader's command line and its track selection.  The
// input, cut at its zero bytes, gives the arguments after the program name;
// the whole input is also read as a track list of its own.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "common/exit.h"
#include "common/program_name.h"
#include "reader/options.h"
#include "reader/selection.h"

namespace {

constexpr std::size_t max_arguments = 24;

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

std::vector<std::string> split_arguments(const std::string& input) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (words.size() < max_arguments) {
        const std::size_t end = input.find('\0', at);
        words.push_back(input.substr(at, end == std::string::npos ? end : end - at));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return words;
}

// The largest track number written in the list, held at 2^31 - 1.
std::int64_t largest_number_in(const std::string& list) {
    std::int64_t largest = 0;
    std::int64_t number = 0;
    for (const char c : list) {
        if (c >= '0' && c <= '9') {
            number = std::min<std::int64_t>(number * 10 + (c - '0'),
                                            std::numeric_limits<std::int32_t>::max());
            largest = std::max(largest, number);
        } else {
            number = 0;
        }
    }
    return largest;
}

// At most 100 indexes, none negative, none beyond the largest number the
// list names or, for an open range, track 100.
void check_selection(const track_selection& selection, const std::string& list) {
    check(selection.count >= 0 && selection.count <= max_selected_tracks);
    const std::int64_t highest = std::max<std::int64_t>(100, largest_number_in(list));
    for (int i = 0; i < selection.count; ++i) {
        check(selection.indexes[i] >= 0 && selection.indexes[i] < highest);
    }
}

// A numeric argument reads as strtol reads it in base 10, held to 32 bits.
void check_number(const std::string& word) {
    const long long wide = std::strtoll(word.c_str(), nullptr, 10);
    const long long held = std::clamp<long long>(wide, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max());
    check(number_argument(word.c_str()) == held);
}

void check_track_list(const std::string& list) {
    track_selection selection;
    try {
        parse_track_list(list, selection);
    } catch (const exit_request& request) {
        check(request.status == 1);
        return;
    }
    check_selection(selection, list);
}

void check_command_line(const std::vector<std::string>& words) {
    std::vector<const char*> argv{"vorka"};
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size()) - 1;
    reader_settings settings;
    option_parser parser;
    track_selection selection;
    try {
        parse_options(parser, settings, argc, argv.data(), option_table, "vorka");
        check(parser.next_arg >= 1 && parser.next_arg <= argc);
        // A row of the table, never the all-zero row that ends it.
        check(settings.selected_format >= output_formats &&
              settings.selected_format < output_formats + std::size(output_formats) - 1);
        check(settings.verbosity >= 0);
        make_track_selection(settings, selection);
    } catch (const exit_request& request) {
        check(request.status == 1);
        return;
    }
    if (settings.start_sector >= 0) {
        check(selection.count == 1 && settings.end_sector > settings.start_sector);
    } else {
        check_selection(selection, settings.track_list);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    set_program_name("vorka");
    const std::string input(reinterpret_cast<const char*>(data), size);
    check_track_list(input);
    const std::vector<std::string> words = split_arguments(input);
    for (const std::string& word : words) {
        check_number(word);
    }
    check_command_line(words);
    return 0;
}
