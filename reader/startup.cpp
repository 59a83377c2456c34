#include "reader/startup.h"

#include <cstdio>

#include "common/exit.h"
#include "common/program_name.h"
#include "drive/open_drive.h"
#include "output/format.h"
#include "output/track_name.h"
#include "reader/selection.h"

void require_arguments(int argc) {
    if (argc < 2) {
        print_help();
    }
}

void load_configuration(reader_run& run) {
    load_drive_configuration(run.drives, run.config_places);
}

void read_command_line(reader_run& run, int argc, const char* const* argv) {
    parse_options(run.parser, run.settings, argc, argv, option_table, program_name);
    if (run.parser.next_arg < argc) {
        print_help();
    }
    if (!run.settings.device_given) {
        run.settings.device_path = default_drive_path(run.settings.device_path);
    }
}

void select_tracks(reader_run& run) {
    make_track_selection(run.settings, run.selection);
}

void check_output_name(const reader_run& run) {
    if (run.settings.reset_drive != 0) {
        return;  // the reset stops before any file is written
    }
    const std::string expanded =
        expand_output_name(run.settings.output_name, *run.settings.selected_format);
    if (!writes_file_per_track(run.settings, expanded)) {
        return;
    }
    check_track_name_template(expanded, run.settings.output_name);
    // Without a track number in it, every track would be written to the
    // same file, each truncating the one before.
    if (run.selection.count >= 2 && !names_each_track(expanded)) {
        std::fprintf(stderr,
                     "%s: Output file name \"%s\" needs a track number conversion such as %%02d "
                     "when several tracks are read.\n",
                     program_name, run.settings.output_name.c_str());
        throw exit_request{1};
    }
}

void start_up(reader_run& run, int argc, const char* const* argv) {
    set_program_name(argc > 0 ? argv[0] : "vorka");
    require_arguments(argc);
    load_configuration(run);
    read_command_line(run, argc, argv);
    select_tracks(run);
    check_output_name(run);
}
