#include "reader/options.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/exit.h"
#include "common/program_name.h"

namespace {

constexpr const char* version_number = "0.6";
constexpr const char* version_date = "01-Jan-1999";

using S = reader_settings;

const char* argument_at(int index, const char* const* argv) {
    return argv[index];
}

// Stores an option's argument into its setting.
void store_argument(const option_variable& variable, reader_settings& settings,
                    const char* argument) {
    if (auto text = std::get_if<std::string S::*>(&variable)) {
        settings.** text = argument;
    } else if (auto number = std::get_if<std::int32_t S::*>(&variable)) {
        settings.** number = number_argument(argument);
    } else if (auto wide = std::get_if<std::int64_t S::*>(&variable)) {
        settings.** wide = number_argument(argument);
    }
}

// Stores the value of an option without argument into its setting.
void store_value(const option_variable& variable, reader_settings& settings, int value) {
    if (auto number = std::get_if<std::int32_t S::*>(&variable)) {
        settings.** number = value;
    } else if (auto wide = std::get_if<std::int64_t S::*>(&variable)) {
        settings.** wide = value;
    }
}

int note_device_given(reader_settings& settings, const char*) {
    settings.device_given = true;
    return 0;
}

int result_without_variable(const option_entry& row) {
    return row.value != 0 ? row.value : row.short_name;
}

}  // namespace

const option_entry option_table[17] = {
    {'t', "track", 3, nullptr, &S::track_list, 0},
    {'o', "output", 3, nullptr, &S::output_name, 0},
    {'f', "format", 3, select_format, {}, 0},
    {'d', "device", 3, note_device_given, &S::device_path, 0},
    {'s', "start", 1, nullptr, &S::start_sector, 0},
    {'e', "end", 1, nullptr, &S::end_sector, 0},
    {'k', "kbps", 1, nullptr, &S::kbps, 0},
    {'b', "buffer", 1, nullptr, &S::read_size, 0},
    {'j', "jitter", 1, nullptr, &S::overlap, 0},
    {'O', "offset", 1, note_read_offset, &S::read_offset, 0},
    {'i', "index", 0, nullptr, &S::index_only, 1},
    {'r', "reset", 0, nullptr, &S::reset_drive, 1},
    {'q', "quiet", 0, nullptr, &S::quiet, 1},
    {'v', "verbose", 0, count_verbose, {}, 0},
    {'V', "version", 0, print_version, {}, 0},
    {'h', "help", 0, print_help, {}, 0},
    {0, nullptr, 0, nullptr, {}, 0},
};

std::int32_t number_argument(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > limit + 1) {
            value = limit + 1;  // held; more digits change nothing
        }
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return static_cast<std::int32_t>(value > limit ? limit : value);
}

const option_entry* find_option(option_lookup by, const char* text, const option_entry* table) {
    if (table == nullptr) {
        return nullptr;
    }
    for (const option_entry* row = table; row->long_name != nullptr || row->short_name != 0;
         ++row) {
        if (by == option_lookup::long_name) {
            if (row->long_name != nullptr && std::strcmp(row->long_name, text) == 0) {
                return row;
            }
        } else if (row->short_name == text[0]) {
            return row;
        }
    }
    return nullptr;
}

int handle_option(option_parser& parser, reader_settings& settings, int argc,
                  const char* const* argv, const option_entry& row) {
    const bool has_variable = !std::holds_alternative<std::monostate>(row.variable);
    int result = option_stored;
    if (row.flags & option_takes_argument) {
        if (parser.next_arg >= argc) {
            return option_missing_argument;
        }
        // The rest of "-t3" after the letter, or the whole next argument.
        const char* argument = argument_at(parser.next_arg, argv) + parser.bundle_pos;
        ++parser.next_arg;
        parser.bundle_pos = 0;
        parser.option_text = argument;
        if (has_variable) {
            store_argument(row.variable, settings, argument);
        } else {
            result = result_without_variable(row);
        }
    } else if (has_variable) {
        store_value(row.variable, settings, row.value);
    } else {
        result = result_without_variable(row);
    }
    if (row.callback != nullptr && row.callback(settings, parser.option_text) < 0) {
        result = option_callback_refused;
    }
    return result;
}

int next_option(option_parser& parser, reader_settings& settings, int argc, const char* const* argv,
                const option_entry* table) {
    if (parser.next_arg >= argc) {
        return 0;
    }
    const char* argument = argument_at(parser.next_arg, argv);
    if (parser.bundle_pos == 0) {
        if (argument[0] != '-' || argument[1] == '\0') {
            return 0;
        }
        if (std::strcmp(argument, "--") == 0) {
            ++parser.next_arg;
            return 0;
        }
        if (argument[1] == '-') {
            parser.option_text = argument + 2;
            ++parser.next_arg;
            const option_entry* row = find_option(option_lookup::long_name, argument + 2, table);
            return row != nullptr ? handle_option(parser, settings, argc, argv, *row)
                                  : option_unknown;
        }
        parser.bundle_pos = 1;
    }
    parser.short_name_buf[0] = argument[parser.bundle_pos];
    parser.short_name_buf[1] = '\0';
    parser.option_text = parser.short_name_buf;
    ++parser.bundle_pos;
    const option_entry* row = find_option(option_lookup::letter, parser.short_name_buf, table);
    if (argument[parser.bundle_pos] == '\0') {
        ++parser.next_arg;
        parser.bundle_pos = 0;
    }
    return row != nullptr ? handle_option(parser, settings, argc, argv, *row) : option_unknown;
}

void parse_options(option_parser& parser, reader_settings& settings, int argc,
                   const char* const* argv, const option_entry* table, const char* name) {
    for (;;) {
        const int result = next_option(parser, settings, argc, argv, table);
        if (result == 0 || result == option_callback_refused) {
            return;
        }
        if (result == option_missing_argument) {
            std::fprintf(stderr, "%s: Missing argument for option \"%s\".\n", name,
                         parser.option_text);
            throw exit_request{1};
        }
        if (result == option_unknown) {
            std::fprintf(stderr, "%s: Unknown option \"%s\".\n", name, parser.option_text);
            throw exit_request{1};
        }
    }
}

void print_help() {
    const reader_settings defaults;
    std::fprintf(stderr, "Usage:  %s [options]\n", program_name);
    std::fputs("Options [defaults]:\n", stderr);
    std::fprintf(stderr, "   -t track(s)   list of tracks to read   [%s]\n",
                 defaults.track_list.c_str());
    std::fprintf(stderr, "   -o file       output file name (\"-\" = stdout)   [%s]\n",
                 defaults.output_name.c_str());
    std::fputs("   -f format     output format:", stderr);
    for (const format_entry* row = output_formats; row->name != nullptr; ++row) {
        std::fprintf(stderr, "%s %s", row == output_formats ? "" : ",", row->name);
    }
    std::fprintf(stderr, "   [%s]\n", default_format().name);
    std::fprintf(stderr, "   -d device     CD device   [%s]\n", defaults.device_path.c_str());
    std::fputs("   -s sector     start sector (overrides -t) [none]\n", stderr);
    std::fputs("   -e sector     end sector (overrides -t) [none]\n", stderr);
    std::fprintf(stderr, "   -k kbps       kbps for mp3 size estimates [%d]\n", defaults.kbps);
    std::fputs("   -b size       size of read buffer in sectors [device-dependant]\n", stderr);
    std::fputs("   -j size       size of jitter corr. overlap (0 = no JC) [device-dependant]\n",
               stderr);
    std::fputs("   -O samples    read offset correction in samples [device-dependant]\n", stderr);
    std::fputs("   -i            display track index only (-iq = compact format for scripts)\n",
               stderr);
    std::fputs("   -r            try to reset CD-ROM density and sector size, then exit\n", stderr);
    std::fputs("   -q            quiet (don't display anything except for errors)\n", stderr);
    std::fputs("   -v            verbose (display additional information, -vv = even more)\n",
               stderr);
    std::fputs("   -V            print the version number, then exit\n", stderr);
    throw exit_request{1};
}

void print_version() {
    std::fprintf(stderr, "vorka v%s, %s\n", version_number, version_date);
    std::fputs("Copyright (c) the vorka developers\n", stderr);
    throw exit_request{1};
}

int print_help(reader_settings&, const char*) {
    print_help();
}

int print_version(reader_settings&, const char*) {
    print_version();
}

int count_verbose(reader_settings& settings, const char*) {
    ++settings.verbosity;
    return 0;
}

int note_read_offset(reader_settings& settings, const char*) {
    settings.read_offset_given = 1;
    return 0;
}

int select_format(reader_settings& settings, const char* option_text) {
    return select_format(option_text, settings.selected_format, print_help);
}
