#pragma once

#include <string>
#include <vector>

#include "config/drive_entry.h"

// The drive configuration files, in the order they are read: "~/.vorkarc"
// (HOME put in for "~"), then the system-wide file.
using config_search_list = std::vector<std::string>;

const config_search_list& default_config_search_list();

// The system-wide file: the configuration directory chosen at build time
// followed by "/vorkarc".
const char* system_config_path();

enum class config_path_result { path, skip, end };

// The path for the list's entry at index.  An entry beginning with "~" takes
// HOME in place of the "~"; an unset or relative HOME prints the HOME warning
// and answers skip.  Past the last entry: end.
config_path_result expand_config_path(const config_search_list& list, std::size_t index,
                                      std::string& path);

// Reads every file of the list that can be opened, appending its entries.
// An error in a file is reported by file, line and column and ends the run;
// so does finding no entry at all.
void load_drive_configuration(drive_entries& entries, const config_search_list& list);

// The first entry that matches the drive's identity; a default entry matches
// any drive, with a warning.  No match ends the run.
const drive_entry& match_drive_entry(const drive_entries& entries, const std::string& vendor,
                                     const std::string& product, const std::string& revision);

// Where the line being parsed stands, for error reports.
struct config_position {
    const char* path;
    const char* line;  // the start of the line as read
    int line_number;
};

// The field readers each read one field at the cursor, move the cursor past
// it and the blanks after it, and report errors at their position.
std::string read_quoted_field(const config_position& where, const char*& cursor,
                              const char* field_name);
long read_integer_field(const config_position& where, const char*& cursor, const char* field_name,
                        long lowest, long highest);
bool read_flag_field(const config_position& where, const char*& cursor, const char* field_name);

// One entry line, parsed into a new record at the end of the table.
void parse_entry_line(const config_position& where, drive_entries& entries);
