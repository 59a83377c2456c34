#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "reader/settings.h"

// The reader's command line: a table that binds each option to a setting or
// an action, and a small parser that walks it strictly from left to right.

// An option's action.  It receives the option's text (its argument once the
// argument has been taken) and returns a result; a negative one stops the
// parse.
using option_callback = int (*)(reader_settings& settings, const char* option_text);

// The setting an option writes: none, a text, or a number.
using option_variable =
    std::variant<std::monostate, std::string reader_settings::*, std::int32_t reader_settings::*,
                 std::int64_t reader_settings::*>;

inline constexpr int option_takes_argument = 1;
inline constexpr int option_text_variable = 2;

struct option_entry {
    char short_name;        // 0 in the end row
    const char* long_name;  // null in the end row
    int flags;              // option_takes_argument, option_text_variable
    option_callback callback;
    option_variable variable;
    int value;  // stored by an option without argument; returned by one without variable
};

extern const option_entry option_table[17];

// Results of one parse step besides 0 (no more options) and a positive
// number (an option without variable: its value or its letter).
inline constexpr int option_unknown = -1;
inline constexpr int option_missing_argument = -2;
inline constexpr int option_stored = -3;
inline constexpr int option_callback_refused = -4;

// Where the parse stands; one per parse.  option_text may point into
// short_name_buf, so the state stays where it was made.
struct option_parser {
    int next_arg = 1;    // the next argument to examine
    int bundle_pos = 0;  // next letter inside "-iq"; 0 outside such an argument
    const char* option_text = nullptr;
    char short_name_buf[2] = {};

    option_parser() = default;
    option_parser(const option_parser&) = delete;
    option_parser& operator=(const option_parser&) = delete;
};

enum class option_lookup { long_name, letter };

const option_entry* find_option(option_lookup by, const char* text, const option_entry* table);

int handle_option(option_parser& parser, reader_settings& settings, int argc,
                  const char* const* argv, const option_entry& row);

int next_option(option_parser& parser, reader_settings& settings, int argc, const char* const* argv,
                const option_entry* table);

// Runs parse steps until the options end; an unknown option or a missing
// argument is reported with the program name and ends the run.  Afterwards
// parser.next_arg tells where the options stopped.
void parse_options(option_parser& parser, reader_settings& settings, int argc,
                   const char* const* argv, const option_entry* table, const char* name);

// A numeric argument as atoi reads it (leading white space, a sign, then
// decimal digits up to the first other character; no digits give 0), held
// to the 32-bit range instead of overflowing.
std::int32_t number_argument(const char* text);

// The help and version texts on standard error; both end the run with
// status 1.  The callback forms ignore their text.
[[noreturn]] void print_help();
[[noreturn]] void print_version();
int print_help(reader_settings& settings, const char* option_text);
int print_version(reader_settings& settings, const char* option_text);

// Adds one to the verbosity and returns 0.
int count_verbose(reader_settings& settings, const char* option_text);

// "-O": notes that the read offset correction was given, so that it
// overrides the drive entry's; returns 0.
int note_read_offset(reader_settings& settings, const char* option_text);

// "-f": the named format becomes the selected one; an unknown name prints
// the help text.
int select_format(reader_settings& settings, const char* option_text);
