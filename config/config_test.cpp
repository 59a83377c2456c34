#include "config/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "common/common_test_util.h"
#include "common/program_name.h"

namespace {

// Sets an environment variable for the life of the object.
class scoped_env {
  public:
    scoped_env(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~scoped_env() {
        if (had_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

struct load_result {
    run_result run;
    drive_entries entries;
};

load_result load_text(const temp_dir& dir, const std::string& text) {
    const std::string path = dir / "rc";
    write_file(path, text);
    load_result result;
    result.run = run_captured([&] { load_drive_configuration(result.entries, {path}); });
    return result;
}

std::string error_at(const temp_dir& dir, int line, int column, const std::string& message) {
    return "vorka:  Error in " + (dir / "rc").string() + " line " + std::to_string(line) +
           " column " + std::to_string(column) + ":\n   " + message + "\n";
}

}  // namespace

class config : public ::testing::Test {
  protected:
    void SetUp() override { set_program_name("vorka"); }
    temp_dir dir;
};

TEST_F(config, entry_lines_fill_every_field) {
    const struct {
        const char* line;
        drive_entry expected;
    } cases[] = {
        {"\"\" \"\" \"\" 40 1 0 0 26 0\n", {"", "", "", 40, true, 0, false, 26, 0}},
        {"\"TOSHIBA\" \"CD-ROM XM-3401\" \"1\" 0xD8 1 0x82 1 1 0\n",
         {"TOSHIBA", "CD-ROM XM-3401", "1", 216, true, 0x82, true, 1, 0}},
        {"\"A\" \"B\" \"C\" 0330 0 255 0 8 7", {"A", "B", "C", 216, false, 255, false, 8, 7}},
        {"  \t\"a b#c\"\"x\"\"\"216 001 0 2 0\r\n", {"a b#c", "x", "", 216, false, 1, false, 2, 0}},
        {"\"\" \"\" \"\" +0XbE 0 -0 0 026 0x0\n", {"", "", "", 0xBE, false, 0, false, 22, 0}},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 667\n", {"", "", "", 40, true, 0, false, 26, 0, 667}},
        {"\"\" \"\" \"\" 40 1 0 0 26 0\t-1164  \r\n",
         {"", "", "", 40, true, 0, false, 26, 0, -1164}},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 +0x30", {"", "", "", 40, true, 0, false, 26, 0, 48}},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 -5880\n", {"", "", "", 40, true, 0, false, 26, 0, -5880}},
    };
    for (const auto& c : cases) {
        const auto result = load_text(dir, c.line);
        ASSERT_EQ(result.run.status, 0) << c.line << result.run.err;
        ASSERT_EQ(result.entries.size(), 1u);
        const drive_entry& e = result.entries[0];
        const drive_entry& x = c.expected;
        EXPECT_EQ(e.vendor, x.vendor) << c.line;
        EXPECT_EQ(e.product, x.product) << c.line;
        EXPECT_EQ(e.version, x.version) << c.line;
        EXPECT_EQ(e.readcmd, x.readcmd) << c.line;
        EXPECT_EQ(e.mdchng, x.mdchng) << c.line;
        EXPECT_EQ(e.density, x.density) << c.line;
        EXPECT_EQ(e.swap_bytes, x.swap_bytes) << c.line;
        EXPECT_EQ(e.blocks, x.blocks) << c.line;
        EXPECT_EQ(e.jitter, x.jitter) << c.line;
        EXPECT_EQ(e.offset, x.offset) << c.line;
    }
}

TEST_F(config, errors_name_file_line_and_column) {
    const struct {
        const char* text;
        int line;
        int column;
        const char* message;
    } cases[] = {
        {"# comment\n\n  \t\nx", 4, 1, "Expected quoted vendor string."},
        {"\"a\" b", 1, 5, "Expected quoted product string."},
        {"\"a\" \"b\"\n", 1, 9, "Expected quoted version string."},
        {"\"a\" \"b\" \"c", 1, 9, "Unterminated version string."},
        {"\"\" \"\" \"\"\n", 1, 9, "Missing \"readcmd\" field."},
        {"\"\" \"\" \"\" 0xD8\n", 1, 14, "Expected 0 or 1 for \"mdchng\"."},
        {"\"\" \"\" \"\" 40 1\n", 1, 14, "Missing \"density\" field."},
        {"\"\" \"\" \"\" 40 1 0 26 0\n", 1, 16, "Expected 0 or 1 for \"swap bytes\"."},
        {"\"\" \"\" \"\" 40 2 0 0 26 0\n", 1, 12, "Expected 0 or 1 for \"mdchng\"."},
        {"\"\" \"\" \"\" 4x 1 0 0 26 0\n", 1, 10, "Illegal characters in \"readcmd\" field."},
        {"\"\" \"\" \"\" x 1 0 0 26 0\n", 1, 9, "Illegal characters in \"readcmd\" field."},
        {"\"\" \"\" \"\" 0x 1 0 0 26 0\n", 1, 10, "Illegal characters in \"readcmd\" field."},
        {"\"\" \"\" \"\" -1 1 0 0 26 0\n", 1, 9, "\"readcmd\" field out of range."},
        {"\"\" \"\" \"\" 4294967296 1 0 0 26 0\n", 1, 9, "\"readcmd\" field out of range."},
        {"\"\" \"\" \"\" 99999999999999999999 1 0 0 26 0\n", 1, 9,
         "\"readcmd\" field out of range."},
        {"\"\" \"\" \"\" 40 1 256 0 26 0\n", 1, 14, "\"density\" field out of range."},
        {"\"\" \"\" \"\" 40 1 0 0 0 0\n", 1, 18, "\"blocks\" field out of range."},
        {"\"\" \"\" \"\" 40 1 0 0 27 0\n", 1, 18, "\"blocks\" field out of range."},
        {"\"\" \"\" \"\" 40 1 0 0 26 27\n", 1, 21, "\"jitter\" field out of range."},
        {"\"\" \"\" \"\" 40 1 0 0 26 26\n", 1, 21,
         "\"jitter\" value must be less than \"blocks\" value."},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 # old drive\n", 1, 23,
         "Invalid characters at the end of the line."},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 5881\n", 1, 23, "\"offset\" field out of range."},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 -5881\n", 1, 23, "\"offset\" field out of range."},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 6x\n", 1, 24, "Illegal characters in \"offset\" field."},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 - 6\n", 1, 23, "Illegal characters in \"offset\" field."},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 6 # old drive\n", 1, 25,
         "Invalid characters at the end of the line."},
        {"\"\" \"\" \"\" 40 1 0 0 26 0 6 7\n", 1, 25, "Invalid characters at the end of the line."},
        {"\"\" \"\" \"\" 40 1 0 0 26\n", 1, 21, "Missing \"jitter\" field."},
        {"\"\" \"\" \"\" 40 1\r\n", 1, 15, "Missing \"density\" field."},
        {"\"\" \"\" \"\" 40 1 0 0 26 0\r\n\"\" \"\"\r\n", 2, 8, "Expected quoted version string."},
    };
    for (const auto& c : cases) {
        const auto result = load_text(dir, c.text);
        EXPECT_EQ(result.run.status, 1) << c.text;
        EXPECT_EQ(result.run.err, error_at(dir, c.line, c.column, c.message)) << c.text;
    }
}

TEST_F(config, long_lines_are_read_in_pieces_of_8191_bytes) {
    // The piece after the first 8191 bytes of a comment counts as line 2.
    std::string comment = "#" + std::string(8190, 'x');
    auto result = load_text(dir, comment + "  # still\n\"\" \"\" \"\" 40 1 0 0 26 0\n");
    EXPECT_EQ(result.run.status, 0) << result.run.err;
    EXPECT_EQ(result.entries.size(), 1u);

    result = load_text(dir, comment + "yz\n");
    EXPECT_EQ(result.run.err, error_at(dir, 2, 1, "Expected quoted vendor string."));

    // An entry padded to exactly one piece still parses; the newline then
    // arrives as a line of its own, which is empty.
    std::string entry = "\"\" \"\" \"\" 40 1 0 0 26 0";
    entry += std::string(8191 - entry.size(), ' ');
    result = load_text(dir, entry + "\n\"\" \"\" \"\" 40 1 0 0 26 x\n");
    EXPECT_EQ(result.run.err, error_at(dir, 3, 21, "Illegal characters in \"jitter\" field."));
}

TEST_F(config, files_are_read_in_list_order_and_missing_ones_skipped) {
    write_file(dir / "first", "\"A\" \"\" \"\" 1 0 0 0 2 0\n");
    write_file(dir / "second", "\"B\" \"\" \"\" 2 0 0 0 2 0\n\"\" \"\" \"\" 3 0 0 0 2 0\n");
    drive_entries entries;
    const auto result = run_captured([&] {
        load_drive_configuration(entries, {(dir / "first").string(), (dir / "none").string(),
                                           (dir / "second").string()});
    });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].readcmd, 1);
    EXPECT_EQ(entries[2].readcmd, 3);
}

TEST_F(config, home_is_put_in_for_the_tilde) {
    write_file(dir / ".vorkarc", "\"\" \"\" \"\" 0xBE 0 0 0 26 0\n");
    const config_search_list list = {"~/.vorkarc", (dir / "system").string()};
    {
        scoped_env home("HOME", dir.path().c_str());
        drive_entries entries;
        const auto result = run_captured([&] { load_drive_configuration(entries, list); });
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(entries.size(), 1u);
    }
    for (const char* bad_home : {static_cast<const char*>(nullptr), "relative/home", ""}) {
        scoped_env home("HOME", bad_home);
        drive_entries entries;
        const auto result = run_captured([&] { load_drive_configuration(entries, list); });
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err,
                  "vorka: Warning: $HOME not set or invalid.\n"
                  "vorka:  No configuration entries found!  Searched at the following places:\n"
                  "vorka: Warning: $HOME not set or invalid.\n"
                  "   " +
                      (dir / "system").string() + "\n");
    }
}

TEST_F(config, no_entries_lists_the_places_searched) {
    write_file(dir / "comments", "# nothing here\n\n");
    scoped_env home("HOME", "/nonexistent-home");
    drive_entries entries;
    const auto result = run_captured([&] {
        load_drive_configuration(entries, {"~/.vorkarc", (dir / "comments").string()});
    });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "vorka:  No configuration entries found!  Searched at the following places:\n"
              "   /nonexistent-home/.vorkarc\n"
              "   " +
                  (dir / "comments").string() + "\n");
}

// Only a regular file is read: a FIFO would block the open, /dev/zero
// would never end, a folder cannot be read at all.
TEST_F(config, a_file_that_is_no_regular_file_is_refused) {
    const std::filesystem::path rc = dir / "rc";
    const std::function<void()> make[] = {
        [&] { std::filesystem::create_directory(rc); },
        [&] { ASSERT_EQ(::mkfifo(rc.c_str(), 0644), 0); },
        [&] { std::filesystem::create_symlink("/dev/zero", rc); },
    };
    for (const auto& make_rc : make) {
        std::filesystem::remove_all(rc);
        make_rc();
        drive_entries entries;
        const auto result = run_captured([&] { load_drive_configuration(entries, {rc.string()}); });
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "vorka: " + rc.string() + ": not a regular file\n");
    }
}

TEST_F(config, the_system_file_lies_in_the_configured_folder) {
    const char* sysconfdir = std::getenv("VORKA_SYSCONFDIR");
    ASSERT_NE(sysconfdir, nullptr);
    EXPECT_EQ(std::string(system_config_path()), std::string(sysconfdir) + "/vorkarc");
    EXPECT_EQ(default_config_search_list(),
              (config_search_list{"~/.vorkarc", system_config_path()}));
}

TEST_F(config, matching_takes_the_first_prefix_match) {
    const drive_entries entries = {
        {"FOO", "", "", 1, false, 0, false, 26, 0},
        {"BAR", "CD-R", "1.0", 2, false, 0, false, 26, 0},
        {"", "", "", 3, false, 0, false, 26, 0},
        {"LATE", "", "", 4, false, 0, false, 26, 0},
    };
    const struct {
        const char* vendor;
        const char* product;
        const char* revision;
        int readcmd;
        const char* err;
    } cases[] = {
        {"FOO", "X", "1", 1, ""},
        {"FOOBAR", "", "", 1, ""},
        {"BAR", "CD-R W", "1.02", 2, ""},
        {"BAR", "CD-", "1.0", 3, "vorka: Warning: Unknown drive, using default configuration!\n"},
        {"FO", "", "", 3, "vorka: Warning: Unknown drive, using default configuration!\n"},
        {"foo", "", "", 3, "vorka: Warning: Unknown drive, using default configuration!\n"},
        {"LATE", "", "", 3, "vorka: Warning: Unknown drive, using default configuration!\n"},
    };
    for (const auto& c : cases) {
        const drive_entry* found = nullptr;
        const auto result = run_captured(
            [&] { found = &match_drive_entry(entries, c.vendor, c.product, c.revision); });
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->readcmd, c.readcmd) << c.vendor << "/" << c.product;
        EXPECT_EQ(result.err, c.err);
    }
    const drive_entries no_default(entries.begin(), entries.begin() + 2);
    const auto result = run_captured([&] { match_drive_entry(no_default, "SONY", "", ""); });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vorka: Error: Unknown drive and missing default entry!\n");
}

TEST_F(config, the_shipped_file_serves_the_image_drive_and_ends_with_the_default) {
    const char* source = std::getenv("VORKA_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    drive_entries entries;
    const auto loaded = run_captured(
        [&] { load_drive_configuration(entries, {std::string(source) + "/config/vorkarc"}); });
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries.back().is_default());
    for (const drive_entry& e : entries) {
        EXPECT_EQ(e.readcmd, 0xBE);
        EXPECT_FALSE(e.mdchng);
        EXPECT_FALSE(e.swap_bytes);
        EXPECT_EQ(e.blocks, 26);
        EXPECT_EQ(e.jitter, 0);
    }
    const drive_entry* found = nullptr;
    const auto matched =
        run_captured([&] { found = &match_drive_entry(entries, "VORKA", "CD IMAGE", "1.0"); });
    EXPECT_EQ(matched.err, "");
    EXPECT_EQ(found, &entries[0]);
}
