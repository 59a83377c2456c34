#pragma once

#include "config/config.h"
#include "config/drive_entry.h"
#include "reader/options.h"
#include "reader/settings.h"
#include "scsi/passthrough/passthrough.h"

// The state of one reader run; every step takes what it needs from here.
struct reader_run {
    reader_settings settings;
    track_selection selection;
    drive_entries drives;
    config_search_list config_places = default_config_search_list();
    option_parser parser;
    // The files the opened drive serves (a disc image's), which no output
    // may overwrite.
    std::vector<source_file> drive_sources;
};

// The start-up steps, in the order the program runs them.  Each either
// succeeds or reports its failure and ends the run.

// With nothing but the program's name on the command line: the help text.
void require_arguments(int argc);

// Every drive configuration file, before the options: a faulty file ends the
// run even when only the help text is asked for.
void load_configuration(reader_run& run);

// The options; arguments left after them give the help text.
void read_command_line(reader_run& run, int argc, const char* const* argv);

// The track selection, or the checked sector range.
void select_tracks(reader_run& run);

// Refuses a per-track output name that holds a conversion the track number
// cannot fill, or that gives several selected tracks one and the same name,
// before anything is read or written.  The reset writes nothing and is let
// through.
void check_output_name(const reader_run& run);

// Steps 1 to 6 of the run: program name through the output name check.
void start_up(reader_run& run, int argc, const char* const* argv);
