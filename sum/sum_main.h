#pragma once

#include <string>
#include <vector>

// What the command line asks for.
struct sum_settings {
    std::string device_path = "/dev/cd0c";
    std::string format;      // -f: the files' format; empty: by their headers
    int first_track = 0;     // -t: the track of the first file; 0: the first audio track
    std::string entry_path;  // -a, --accuraterip: the database entry
    bool offsets = false;    // --offsets: the one file is the whole disc
    std::vector<std::string> files;
};

// Parses the arguments; the usage text, -h and every mistake end the run
// with an exit_request.
sum_settings parse_sum_options(int argc, char** argv);

// The whole vorkasum run; returns the exit status.
int sum_main(int argc, char** argv);
