#include "fade/fade_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include "common/common_test_util.h"

namespace {

using std::chrono::microseconds;
using std::chrono::steady_clock;

constexpr std::size_t block_bytes = fade_block_frames * frame_bytes;

// Starts vorkfade over the whole file (a fade-in from its first frame to its
// last) with standard output on a pipe and returns its process id once the
// report has arrived, that is once the fade is about to begin.
pid_t start_fade(const std::string& path) {
    int report[2];
    if (::pipe(report) != 0) {
        return -1;
    }
    const pid_t pid = start_program({"vorkfade", "0", "-1", path}, [&] {
        // Whatever the test runner inherited, the child meets these signals
        // with their default action, and a SIGQUIT leaves no core file.
        sigset_t all;
        sigemptyset(&all);
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            ::signal(s, SIG_DFL);
            sigaddset(&all, s);
        }
        ::sigprocmask(SIG_UNBLOCK, &all, nullptr);
        const struct rlimit no_core {};
        ::setrlimit(RLIMIT_CORE, &no_core);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(report[1], 1);
        ::dup2(null, 2);
        ::close(report[0]);
    });
    ::close(report[1]);
    // The report has five lines and is flushed before the first block.
    int lines = 0;
    char c;
    while (lines < 5 && ::read(report[0], &c, 1) == 1) {
        lines += c == '\n';
    }
    ::close(report[0]);
    return pid;
}

// tmpfs copies a write into the file one page at a time and stops between
// pages when a fatal signal is pending, so that a signal in the middle of a
// block's write cuts it short there; file systems with large folios tear a
// write less often.  The test runs where tearing is easiest to provoke.
std::filesystem::path tearable_folder() {
#ifdef __linux__
    struct statfs info;
    if (::statfs("/dev/shm", &info) == 0 && info.f_type == TMPFS_MAGIC &&
        ::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
#endif
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
}

void put_contents(const std::string& path, const std::string& contents) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
    ::close(fd);
}

std::string contents_of(const std::string& path, std::size_t size) {
    std::string contents(size + 1, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t got = fd < 0 ? 0 : ::pread(fd, contents.data(), contents.size(), 0);
    ::close(fd);
    contents.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return contents;
}

// Which 64 KiB block of the fade is neither as it was nor fully faded, or -1.
long torn_block(const std::string& after, const std::string& before, const std::string& faded) {
    for (std::size_t at = 0; at < after.size(); at += block_bytes) {
        const std::size_t n = std::min(block_bytes, after.size() - at);
        if (after.compare(at, n, before, at, n) != 0 && after.compare(at, n, faded, at, n) != 0) {
            return static_cast<long>(at / block_bytes);
        }
    }
    return -1;
}

}  // namespace

// An interrupt may end the fade between two blocks but never inside one: a
// block half faded would be a click that no second run could repair.  The
// signals land at random points of the fade until sixty runs have stopped
// in its middle; about one in six of those falls inside a block's write, so
// a write that a signal can cut short is all but certain to show.  Most
// signals land before the handler is in place or after the fade is done
// (more so under the sanitizers, where start-up is slow and the fade
// fast), so the runs allowed are many; the loop ends at the sixtieth.
TEST(fade_region, an_interrupt_leaves_whole_blocks_faded_and_the_rest_untouched) {
    temp_dir dir(tearable_folder());
    const std::string path = dir / "long.pcm";
    const std::string faded_path = dir / "faded.pcm";
    std::mt19937 random(11);
    std::string before(64 * block_bytes, '\0');
    for (char& byte : before) {
        byte = static_cast<char>(random() | 1);  // never a silent sample
    }
    // How long a whole fade takes once its report is out, the shortest of a
    // few: the signals are spread over that time.
    microseconds fade_time = microseconds::max();
    for (int i = 0; i < 3; ++i) {
        put_contents(faded_path, before);
        const pid_t whole = start_fade(faded_path);
        ASSERT_GT(whole, 0);
        const auto started = steady_clock::now();
        const int whole_status = wait_for_child(whole);
        fade_time = std::min(
            fade_time, std::chrono::duration_cast<microseconds>(steady_clock::now() - started));
        ASSERT_TRUE(WIFEXITED(whole_status) && WEXITSTATUS(whole_status) == 0) << whole_status;
    }
    const std::string faded = contents_of(faded_path, before.size());
    ASSERT_NE(faded, before);

    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    std::uniform_int_distribution<long> delay(0, fade_time.count());
    int interrupted = 0;
    for (int run = 0; run < 1600 && interrupted < 60; ++run) {
        const int signal = signals[run % 4];
        put_contents(path, before);
        const pid_t pid = start_fade(path);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(microseconds(delay(random)));
        ::kill(pid, signal);
        const int status = wait_for_child(pid);
        const std::string after = contents_of(path, before.size());
        ASSERT_EQ(after.size(), before.size());
        ASSERT_EQ(torn_block(after, before, faded), -1) << strsignal(signal) << ", run " << run;
        if (WIFEXITED(status)) {
            ASSERT_EQ(WEXITSTATUS(status), 0);  // done before the signal came
            ASSERT_EQ(after, faded);
            continue;
        }
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal);
        interrupted += after != before && after != faded;  // stopped in the middle
    }
    EXPECT_GE(interrupted, 60) << "too few signals came in the middle of the fade";
}
