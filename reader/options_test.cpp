#include "reader/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "common/program_name.h"

namespace {

const char* const help_text =
    "Usage:  vorka [options]\n"
    "Options [defaults]:\n"
    "   -t track(s)   list of tracks to read   [1-100]\n"
    "   -o file       output file name (\"-\" = stdout)   [track%02d.%s]\n"
    "   -f format     output format: pcm, mcp, aiff, wav, au, flac   [pcm]\n"
    "   -d device     CD device   [/dev/cd0c]\n"
    "   -s sector     start sector (overrides -t) [none]\n"
    "   -e sector     end sector (overrides -t) [none]\n"
    "   -k kbps       kbps for mp3 size estimates [128]\n"
    "   -b size       size of read buffer in sectors [device-dependant]\n"
    "   -j size       size of jitter corr. overlap (0 = no JC) [device-dependant]\n"
    "   -O samples    read offset correction in samples [device-dependant]\n"
    "   -i            display track index only (-iq = compact format for scripts)\n"
    "   -r            try to reset CD-ROM density and sector size, then exit\n"
    "   -q            quiet (don't display anything except for errors)\n"
    "   -v            verbose (display additional information, -vv = even more)\n"
    "   -V            print the version number, then exit\n";

struct parsed {
    reader_settings settings;
    int next_arg = 0;
    run_result run;
};

// Parses the arguments after the program name "vorka".
parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "vorka");
    parsed p;
    option_parser parser;
    p.run = run_captured([&] {
        parse_options(parser, p.settings, static_cast<int>(args.size()), args.data(), option_table,
                      "vorka");
    });
    p.next_arg = parser.next_arg;
    return p;
}

}  // namespace

class options : public ::testing::Test {
  protected:
    void SetUp() override { set_program_name("vorka"); }
};

TEST_F(options, table_rows_agree_with_their_settings) {
    for (const option_entry* row = option_table; row->short_name != 0; ++row) {
        if (!std::holds_alternative<std::monostate>(row->variable)) {
            const bool text = std::holds_alternative<std::string reader_settings::*>(row->variable);
            EXPECT_EQ(text, (row->flags & option_text_variable) != 0) << row->long_name;
        }
        EXPECT_EQ(find_option(option_lookup::letter, std::string(1, row->short_name).c_str(),
                              option_table),
                  row);
        EXPECT_EQ(find_option(option_lookup::long_name, row->long_name, option_table), row);
    }
    EXPECT_EQ(find_option(option_lookup::long_name, "Track", option_table), nullptr);
    EXPECT_EQ(find_option(option_lookup::letter, "x", option_table), nullptr);
    EXPECT_EQ(find_option(option_lookup::letter, "t", nullptr), nullptr);
}

TEST_F(options, store_settings_in_order) {
    const struct {
        std::vector<const char*> args;
        std::string track_list;
        std::int32_t index_only, quiet, verbosity;
        int next_arg;  // in the argument vector with the program name
    } cases[] = {
        {{"-t3"}, "3", 0, 0, 0, 2},
        {{"-t", "3"}, "3", 0, 0, 0, 3},
        {{"--track", "3"}, "3", 0, 0, 0, 3},
        {{"-it3"}, "3", 1, 0, 0, 2},
        {{"-ti3"}, "i3", 0, 0, 0, 2},
        {{"-t", "-3"}, "-3", 0, 0, 0, 3},
        {{"-iq"}, "1-100", 1, 1, 0, 2},
        {{"-vv"}, "1-100", 0, 0, 2, 2},
        {{"-v", "--verbose", "-qv"}, "1-100", 0, 1, 3, 4},
        {{"--"}, "1-100", 0, 0, 0, 2},
        {{"-q", "--", "-i"}, "1-100", 0, 1, 0, 3},
        {{"-q", "-", "-i"}, "1-100", 0, 1, 0, 2},
        {{"x", "-i"}, "1-100", 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        const parsed p = parse(c.args);
        EXPECT_EQ(p.run.status, 0) << c.args[0] << p.run.err;
        EXPECT_EQ(p.settings.track_list, c.track_list) << c.args[0];
        EXPECT_EQ(p.settings.index_only, c.index_only) << c.args[0];
        EXPECT_EQ(p.settings.quiet, c.quiet) << c.args[0];
        EXPECT_EQ(p.settings.verbosity, c.verbosity) << c.args[0];
        EXPECT_EQ(p.next_arg, c.next_arg) << c.args[0];
    }
}

TEST_F(options, numbers_read_as_atoi_reads_them) {
    const parsed p = parse({"-s", "12abc", "-b", "0x10", "-j", "-5", "-k", "  +64", "-e",
                            "99999999999", "--reset", "-o", "-", "-d", "/dev/sr0"});
    EXPECT_EQ(p.run.status, 0);
    EXPECT_EQ(p.settings.start_sector, 12);
    EXPECT_EQ(p.settings.read_size, 0);
    EXPECT_EQ(p.settings.overlap, -5);
    EXPECT_EQ(p.settings.kbps, 64);
    EXPECT_EQ(p.settings.end_sector, 2147483647);  // held, never wrapped negative
    EXPECT_EQ(p.settings.reset_drive, 1);
    EXPECT_EQ(p.settings.output_name, "-");
    EXPECT_EQ(p.settings.device_path, "/dev/sr0");
    const struct {
        const char* text;
        std::int32_t value;
    } numbers[] = {{"", 0},
                   {"abc", 0},
                   {"-2147483648", -2147483647 - 1},
                   {"-99999999999", -2147483647 - 1},
                   {"\t\v 7", 7},
                   {"+-3", 0}};
    for (const auto& n : numbers) {
        EXPECT_EQ(number_argument(n.text), n.value) << n.text;
    }
}

TEST_F(options, formats_are_selected_as_reached) {
    EXPECT_EQ(parse({"-f", "au", "-f", "pcm"}).settings.selected_format, &output_formats[0]);
    EXPECT_EQ(parse({"-fWav"}).settings.selected_format, &output_formats[3]);
    EXPECT_EQ(parse({"--format", "AIFF"}).settings.selected_format, &output_formats[2]);
    for (const char* name : {"riff", ""}) {
        const parsed p = parse({"-f", name});
        EXPECT_EQ(p.run.status, 1);
        EXPECT_EQ(p.run.err, help_text);
    }
}

TEST_F(options, errors_name_the_option_without_dashes) {
    const struct {
        std::vector<const char*> args;
        const char* err;
        std::int32_t quiet;
    } cases[] = {
        {{"--track=3"}, "vorka: Unknown option \"track=3\".\n", 0},
        {{"-t"}, "vorka: Missing argument for option \"t\".\n", 0},
        {{"--track"}, "vorka: Missing argument for option \"track\".\n", 0},
        {{"-qt"}, "vorka: Missing argument for option \"t\".\n", 1},
        {{"-qx"}, "vorka: Unknown option \"x\".\n", 1},
        {{"--foo"}, "vorka: Unknown option \"foo\".\n", 0},
        {{"-x", "-V"}, "vorka: Unknown option \"x\".\n", 0},
        {{"-V", "-x"}, "vorka v0.6, 01-Jan-1999\nCopyright (c) the vorka developers\n", 0},
        {{"-t", "5", "-h"}, help_text, 0},
        {{"--help"}, help_text, 0},
        {{"-f", "wav", "-h"}, help_text, 0},
    };
    for (const auto& c : cases) {
        const parsed p = parse(c.args);
        EXPECT_EQ(p.run.status, 1) << c.args[0];
        EXPECT_EQ(p.run.err, c.err) << c.args[0];
        EXPECT_EQ(p.settings.quiet, c.quiet) << c.args[0];
    }
}

TEST_F(options, a_refusing_callback_stops_the_parse) {
    static const option_entry table[] = {
        {'n', "no", 0, [](reader_settings&, const char*) { return -1; }, {}, 0},
        {'a', "answer", 1, nullptr, {}, 42},
        {'l', "letter", 0, nullptr, {}, 0},
        {0, nullptr, 0, nullptr, {}, 0},
    };
    reader_settings settings;
    option_parser parser;
    const char* args[] = {"vorka", "-la", "x", "-n", "-l"};
    EXPECT_EQ(next_option(parser, settings, 5, args, table), 'l');
    EXPECT_EQ(next_option(parser, settings, 5, args, table), 42);
    EXPECT_STREQ(parser.option_text, "x");
    EXPECT_EQ(next_option(parser, settings, 5, args, table), option_callback_refused);
    EXPECT_EQ(parser.next_arg, 4);
}

TEST_F(options, each_step_leaves_the_parser_where_the_next_one_begins) {
    struct step {
        int result, next_arg, bundle_pos;
        const char* option_text;  // null: not looked at
    };
    const struct {
        std::vector<const char*> args;
        std::vector<step> steps;
    } cases[] = {
        {{"-qt"}, {{option_stored, 1, 2, "q"}, {option_missing_argument, 2, 0, "t"}}},
        {{"-ti3"}, {{option_stored, 2, 0, "i3"}, {0, 2, 0, nullptr}}},
        {{"-xq"}, {{option_unknown, 1, 2, "x"}}},
        {{"-qx", "-i"}, {{option_stored, 1, 2, "q"}, {option_unknown, 2, 0, "x"}}},
        {{"--track=3"}, {{option_unknown, 2, 0, "track=3"}}},
        {{"--track"}, {{option_missing_argument, 2, 0, "track"}}},
        {{"-o", "-", "-"}, {{option_stored, 3, 0, "-"}, {0, 3, 0, nullptr}}},
        {{"--", "-i"}, {{0, 2, 0, nullptr}}},
        {{"-", "-i"}, {{0, 1, 0, nullptr}}},
        {{"-v", "--verbose"}, {{'v', 2, 0, "v"}, {'v', 3, 0, "verbose"}, {0, 3, 0, nullptr}}},
    };
    for (const auto& c : cases) {
        std::vector<const char*> args = c.args;
        args.insert(args.begin(), "vorka");
        reader_settings settings;
        option_parser parser;
        for (const step& s : c.steps) {
            EXPECT_EQ(next_option(parser, settings, static_cast<int>(args.size()), args.data(),
                                  option_table),
                      s.result)
                << c.args[0];
            EXPECT_EQ(parser.next_arg, s.next_arg) << c.args[0];
            EXPECT_EQ(parser.bundle_pos, s.bundle_pos) << c.args[0];
            if (s.option_text != nullptr) {
                EXPECT_STREQ(parser.option_text, s.option_text) << c.args[0];
            }
        }
    }
}
