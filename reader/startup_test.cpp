#include "reader/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "common/program_name.h"

namespace {

const char* const default_entry = "\"\" \"\" \"\" 0xBE 0 0 0 26 0\n";
// Start-up got as far as the drive, which the default device path does not
// name on a test machine.
const char* const stop_message = "vorka: /dev/cd0c: No such file or directory\n";

std::string usage_first_line() {
    return "Usage:  vorka [options]\n";
}

// The built vorka with HOME in a fresh folder that holds the given ~/.vorkarc
// (none when rc is null).
class vorka_program {
  public:
    explicit vorka_program(const char* rc) {
        if (rc != nullptr) {
            write_file(home / ".vorkarc", rc);
        }
    }
    run_result run(std::vector<std::string> args) const {
        args.insert(args.begin(), program_path("vorka"));
        return run_program(args, {"HOME=" + home.path().string()});
    }
    temp_dir home;
};

}  // namespace

TEST(vorka, without_arguments_prints_the_help_and_reads_no_configuration) {
    const vorka_program vorka("broken\n");
    const auto result = vorka.run({});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.starts_with(usage_first_line())) << result.err;
    EXPECT_TRUE(result.err.ends_with("   -V            print the version number, then exit\n"));
    EXPECT_EQ(result.out, "");
}

TEST(vorka, runs_start_up_end_to_end) {
    const vorka_program vorka(default_entry);
    const std::string help = vorka.run({}).err;
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-h"}, help},
        {{"--help"}, help},
        {{"-i", "extra"}, help},
        {{"-q", "-", "-i"}, help},
        {{"-f", "sun"}, help},
        {{"-V"}, "vorka v0.6, 01-Jan-1999\nCopyright (c) the vorka developers\n"},
        {{"-x"}, "vorka: Unknown option \"x\".\n"},
        {{"-t"}, "vorka: Missing argument for option \"t\".\n"},
        {{"-t", "0"},
         "vorka: Syntax error in track list.\n"
         "Track list format:  a | a,b | [a]-[b] ...\nExample:  -3,5,8-10,12-\n"},
        {{"-t", "1-100,5"}, "vorka: Too many tracks specified (maximum is 100).\n"},
        {{"-s", "5"}, "vorka: -s and -e must be used together.\n"},
        {{"-s", "10", "-e", "9"}, "vorka: end sector must not be smaller than start sector.\n"},
        {{"-o", "x%s%s", "-f", "wav"},
         "vorka: Invalid conversion \"%s\" in output file name \"x%s%s\".\n"},
        {{"-o", "t%02d%n"}, "vorka: Invalid conversion \"%n\" in output file name \"t%02d%n\".\n"},
        // Names that are never formatted per track are not checked.
        {{"-i", "-o", "%n"}, stop_message},
        {{"-s", "0", "-e", "0", "-t", "x", "-o", "%n"}, stop_message},
        {{"-t", "2-3", "-f", "wav"}, stop_message},
        {{"-r", "-q"}, stop_message},
        // Several tracks into one name would each overwrite the one before.
        {{"-o", "track%%.raw", "-f", "wav"},
         "vorka: Output file name \"track%%.raw\" needs a track number conversion such as "
         "%02d when several tracks are read.\n"},
        {{"-o", "x%%", "-t", "2,2"},
         "vorka: Output file name \"x%%\" needs a track number conversion such as %02d when "
         "several tracks are read.\n"},
        {{"-o", "x%%", "-t", "2"}, stop_message},
        {{"-o", "x%%", "-t", "3-1,4"}, stop_message},
        {{"-i", "-o", "x%%"}, stop_message},
        {{"-s", "1", "-e", "2", "-o", "x%%"}, stop_message},
        // The reset writes no file, so the name does not matter.
        {{"-r", "-o", "%n"}, stop_message},
        {{"-r", "-o", "x%%"}, stop_message},
    };
    for (const auto& c : cases) {
        const auto result = vorka.run(c.args);
        EXPECT_EQ(result.status, 1) << c.args[0];
        EXPECT_EQ(result.err, c.err) << c.args[0];
        EXPECT_EQ(result.out, "") << c.args[0];
    }
}

TEST(vorka, configuration_errors_come_before_the_options) {
    const vorka_program broken("\"\" \"\" \"\" 0xBE 0 0 0 26 26\n");
    auto result = broken.run({"-h"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vorka:  Error in " + (broken.home / ".vorkarc").string() +
                              " line 1 column 23:\n"
                              "   \"jitter\" value must be less than \"blocks\" value.\n");

    const vorka_program none(nullptr);
    const char* sysconfdir = std::getenv("VORKA_SYSCONFDIR");
    ASSERT_NE(sysconfdir, nullptr);
    result = none.run({"-V"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "vorka:  No configuration entries found!  Searched at the following places:\n"
              "   " +
                  (none.home / ".vorkarc").string() + "\n" + "   " + sysconfdir + "/vorkarc\n");
}

TEST(vorka, start_up_fills_the_run) {
    set_program_name("vorka");
    temp_dir dir;
    write_file(dir / "rc", std::string("\"VORKA\" \"\" \"\" 0xBE 0 0 0 26 0\n") + default_entry);
    reader_run run;
    run.config_places = {(dir / "rc").string()};
    const char* args[] = {"/usr/bin/vorka", "-t", "3,1-2", "-f", "au", "-iq"};
    const auto result = run_captured([&] { start_up(run, 6, args); });
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_STREQ(program_name, "vorka");
    EXPECT_EQ(run.drives.size(), 2u);
    EXPECT_EQ(run.selection.count, 3);
    EXPECT_EQ(run.selection.indexes[0], 2);
    EXPECT_EQ(run.settings.selected_format, &output_formats[4]);
    EXPECT_EQ(run.settings.index_only, 1);
    EXPECT_EQ(run.settings.quiet, 1);
    EXPECT_EQ(run.parser.next_arg, 6);
}

TEST(vorka, an_empty_or_missing_program_name_still_gets_the_help) {
    temp_dir dir;
    write_file(dir / "rc", "broken\n");
    const struct {
        int argc;
        const char* argv0;
        const char* usage;
    } cases[] = {{0, nullptr, "Usage:  vorka [options]\n"}, {1, "", "Usage:   [options]\n"}};
    for (const auto& c : cases) {
        reader_run run;
        run.config_places = {(dir / "rc").string()};
        const char* args[] = {c.argv0, nullptr};
        const auto result = run_captured([&] { start_up(run, c.argc, args); });
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.starts_with(c.usage)) << result.err;
    }
}
