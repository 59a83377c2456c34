#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/test_support.h"
#include "scsi/passthrough/passthrough.h"

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

}  // namespace
