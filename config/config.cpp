#include "config/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/blanks.h"
#include "common/exit.h"
#include "common/program_name.h"

namespace {

// Lines are read in pieces of at most this many bytes less one; a longer
// physical line goes on as a line of its own.
constexpr int line_buffer_size = 8192;

constexpr long byte_lowest = 0;
constexpr long byte_highest = 255;
constexpr long blocks_lowest = 1;
constexpr long blocks_highest = 26;
constexpr long jitter_lowest = 0;
constexpr long jitter_highest = 26;
constexpr long offset_lowest = -max_offset_correction;
constexpr long offset_highest = max_offset_correction;

[[noreturn]] void report_config_error(const config_position& where, long column,
                                      const std::string& message) {
    std::fprintf(stderr, "%s:  Error in %s line %d column %ld:\n   %s\n", program_name, where.path,
                 where.line_number, column, message.c_str());
    throw exit_request{1};
}

std::string with_name(const char* pattern, const char* field_name) {
    std::string text = pattern;
    text.replace(text.find("%s"), 2, field_name);
    return text;
}

long column_of(const config_position& where, const char* at) {
    return at - where.line;
}

const char* skip_blanks(const char* at) {
    while (is_blank(*at)) {
        ++at;
    }
    return at;
}

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The configuration file at the path, open for reading, or null when it
// cannot be opened.  Opened without blocking, so that a FIFO in its place
// cannot hold the program in open() waiting for a writer; anything but a
// regular file (a FIFO, a device such as /dev/zero that never ends, a
// folder) is refused.
std::FILE* open_config_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        exit_with_errno(path.c_str());
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        std::fprintf(stderr, "%s: %s: not a regular file\n", program_name, path.c_str());
        throw exit_request{1};
    }
    std::FILE* file = ::fdopen(fd, "r");
    if (file == nullptr) {
        exit_with_errno(path.c_str());
    }
    return file;
}

void read_config_file(const std::string& path, drive_entries& entries) {
    const std::unique_ptr<std::FILE, file_closer> file(open_config_file(path));
    if (!file) {
        return;  // a missing file is no error: the next place may hold entries
    }
    char line[line_buffer_size];
    int line_number = 0;
    while (std::fgets(line, sizeof line, file.get()) != nullptr) {
        ++line_number;
        const char* first = skip_blanks(line);
        if (*first == '#' || *first == '\0') {
            continue;
        }
        parse_entry_line({path.c_str(), line, line_number}, entries);
    }
    if (std::ferror(file.get())) {
        // A file that stops half-read would silently lose entries.
        exit_with_errno(path.c_str());
    }
}

// Expands every entry of the search list in order and hands each usable
// path on; an entry with an unusable HOME warns and is passed over.
template <typename Visit>
void for_each_config_path(const config_search_list& list, Visit visit) {
    std::string path;
    for (std::size_t i = 0;; ++i) {
        const config_path_result result = expand_config_path(list, i, path);
        if (result == config_path_result::end) {
            return;
        }
        if (result == config_path_result::path) {
            visit(path);
        }
    }
}

[[noreturn]] void report_no_entries(const config_search_list& list) {
    std::fprintf(stderr,
                 "%s:  No configuration entries found!  Searched at the following places:\n",
                 program_name);
    for_each_config_path(
        list, [](const std::string& path) { std::fprintf(stderr, "   %s\n", path.c_str()); });
    throw exit_request{1};
}

bool starts_with(const std::string& identity, const std::string& prefix) {
    return std::string_view(identity).starts_with(prefix);
}

}  // namespace

const char* system_config_path() {
    return VORKA_SYSCONFDIR "/vorkarc";
}

const config_search_list& default_config_search_list() {
    static const config_search_list list = {"~/.vorkarc", system_config_path()};
    return list;
}

config_path_result expand_config_path(const config_search_list& list, std::size_t index,
                                      std::string& path) {
    if (index >= list.size()) {
        return config_path_result::end;
    }
    const std::string& entry = list[index];
    if (!entry.starts_with("~")) {
        path = entry;
        return config_path_result::path;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        std::fprintf(stderr, "%s: Warning: $HOME not set or invalid.\n", program_name);
        return config_path_result::skip;
    }
    path = home + entry.substr(1);
    return config_path_result::path;
}

void load_drive_configuration(drive_entries& entries, const config_search_list& list) {
    for_each_config_path(list, [&](const std::string& path) { read_config_file(path, entries); });
    if (entries.empty()) {
        report_no_entries(list);
    }
}

std::string read_quoted_field(const config_position& where, const char*& cursor,
                              const char* field_name) {
    if (*cursor != '"') {
        report_config_error(where, column_of(where, cursor) + 1,
                            with_name("Expected quoted %s string.", field_name));
    }
    const char* closing = std::strchr(cursor + 1, '"');
    if (closing == nullptr) {
        report_config_error(where, column_of(where, cursor) + 1,
                            with_name("Unterminated %s string.", field_name));
    }
    std::string text(cursor + 1, closing);
    cursor = skip_blanks(closing + 1);
    return text;
}

long read_integer_field(const config_position& where, const char*& cursor, const char* field_name,
                        long lowest, long highest) {
    if (*cursor == '\0') {
        report_config_error(where, column_of(where, cursor),
                            with_name("Missing \"%s\" field.", field_name));
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(cursor, &end, 0);
    const bool too_large = errno == ERANGE;  // beyond long: out of every range
    if (end == cursor || !(is_blank(*end) || *end == '\0')) {
        report_config_error(where, column_of(where, end),
                            with_name("Illegal characters in \"%s\" field.", field_name));
    }
    if (too_large || value < lowest || value > highest) {
        report_config_error(where, column_of(where, cursor),
                            with_name("\"%s\" field out of range.", field_name));
    }
    cursor = skip_blanks(end);
    return value;
}

bool read_flag_field(const config_position& where, const char*& cursor, const char* field_name) {
    if (*cursor != '0' && *cursor != '1') {
        report_config_error(where, column_of(where, cursor),
                            with_name("Expected 0 or 1 for \"%s\".", field_name));
    }
    const bool value = *cursor == '1';
    cursor = skip_blanks(cursor + 1);
    return value;
}

void parse_entry_line(const config_position& where, drive_entries& entries) {
    drive_entry& entry = entries.emplace_back();
    const char* cursor = skip_blanks(where.line);
    entry.vendor = read_quoted_field(where, cursor, "vendor");
    entry.product = read_quoted_field(where, cursor, "product");
    entry.version = read_quoted_field(where, cursor, "version");
    entry.readcmd = static_cast<std::uint8_t>(
        read_integer_field(where, cursor, "readcmd", byte_lowest, byte_highest));
    entry.mdchng = read_flag_field(where, cursor, "mdchng");
    entry.density = static_cast<std::uint8_t>(
        read_integer_field(where, cursor, "density", byte_lowest, byte_highest));
    entry.swap_bytes = read_flag_field(where, cursor, "swap bytes");
    entry.blocks = static_cast<int>(
        read_integer_field(where, cursor, "blocks", blocks_lowest, blocks_highest));
    const char* jitter_start = cursor;
    entry.jitter = static_cast<int>(
        read_integer_field(where, cursor, "jitter", jitter_lowest, jitter_highest));
    if (entry.jitter >= entry.blocks) {
        report_config_error(where, column_of(where, jitter_start),
                            "\"jitter\" value must be less than \"blocks\" value.");
    }
    // The tenth field is optional: a line of nine fields means offset 0.
    if (*cursor == '+' || *cursor == '-' || (*cursor >= '0' && *cursor <= '9')) {
        entry.offset = static_cast<int>(
            read_integer_field(where, cursor, "offset", offset_lowest, offset_highest));
    }
    if (*cursor != '\0') {
        report_config_error(where, column_of(where, cursor),
                            "Invalid characters at the end of the line.");
    }
}

const drive_entry& match_drive_entry(const drive_entries& entries, const std::string& vendor,
                                     const std::string& product, const std::string& revision) {
    for (const drive_entry& entry : entries) {
        if (entry.is_default()) {
            std::fprintf(stderr, "%s: Warning: Unknown drive, using default configuration!\n",
                         program_name);
            return entry;
        }
        if (starts_with(vendor, entry.vendor) && starts_with(product, entry.product) &&
            starts_with(revision, entry.version)) {
            return entry;
        }
    }
    std::fprintf(stderr, "%s: Error: Unknown drive and missing default entry!\n", program_name);
    throw exit_request{1};
}
