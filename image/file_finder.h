#pragma once

#include <string>

#include "image/cue_sheet.h"

// Where the file a FILE line names was found.
struct found_file {
    std::string path;
    // Found under another audio extension than the one named (a ".wav" in
    // the sheet after the files were compressed to ".flac"): what it holds
    // is then told by its content, not by the FILE type.
    bool other_extension = false;
};

// Finds the file as archives made on other systems name it: the name as
// given; else with "\" as a folder separator (a Windows drive or network
// path by its last part alone), each part matched in any letter case when
// exactly one entry fits; else the same name with the extension ".flac",
// ".wav", ".aiff" or ".bin", in that order.  false with the problem (what
// was looked for, and where) in `error`.
bool find_cue_file(const cue_file& file, found_file& found, std::string& error);
