#include "drive/open_drive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/common_test_util.h"
#include "common/program_name.h"

namespace {

// What the drive path may name besides a drive: each fails at once, with
// the path and the reason, and nothing waits for a writer or a medium.
TEST(open_passthrough, paths_that_name_no_drive) {
#ifndef __linux__
    GTEST_SKIP() << "the platform pass-through here is not SG_IO";
#endif
    temp_dir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    struct row {
        std::string path;
        std::string error;
    };
    const row rows[] = {
        {(dir / "missing").string(), ": No such file or directory"},
        {dir.path().string(), ": Is a directory"},
        {(dir / "fifo").string(), ": neither a SCSI device nor a cue sheet"},
        {"/dev/null", ": neither a SCSI device nor a cue sheet"},
    };
    for (const row& r : rows) {
        const passthrough_open_result opened = open_passthrough(r.path);
        EXPECT_EQ(opened.device, nullptr) << r.path;
        EXPECT_EQ(opened.error, r.path + r.error);
    }
}

TEST(default_drive_path, the_old_name_then_the_first_cd_drive_then_the_old_name_again) {
    temp_dir dir;
    const std::string old_name = (dir / "cd0c").string();
    const std::string first_cd = (dir / "sr0").string();
    EXPECT_EQ(default_drive_path(old_name, first_cd.c_str()), old_name);  // neither exists
    EXPECT_EQ(default_drive_path(old_name, nullptr), old_name);
    write_file(first_cd, "");
    EXPECT_EQ(default_drive_path(old_name, first_cd.c_str()), first_cd);
    write_file(old_name, "");
    EXPECT_EQ(default_drive_path(old_name, first_cd.c_str()), old_name);
}

// Both kinds of failure end the run with the program name and the reason.
TEST(open_drive, failure_prints_program_name_and_reason) {
    set_program_name("vorka");
    temp_dir dir;
    write_file(dir / "d.cue", "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:99\n");
    struct row {
        std::string path;
        std::string err;
    };
    const row rows[] = {
        {"/nonexistent-vorka-dir/sr9",
         "vorka: /nonexistent-vorka-dir/sr9: No such file or directory\n"},
        {(dir / "d.cue").string(),
         "vorka: " + (dir / "d.cue").string() +
             " line 3: bad time \"00:00:99\" (seconds below 60, frames below 75)\n"},
    };
    for (const row& r : rows) {
        const run_result result = run_captured([&] { open_drive(r.path); });
        EXPECT_EQ(result.status, 1) << r.path;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, r.err);
    }
}

}  // namespace
