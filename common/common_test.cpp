#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "common/blanks.h"
#include "common/common_test_util.h"
#include "common/exit.h"
#include "common/program_name.h"
#include "common/write_all.h"

TEST(program_name, is_the_text_after_the_last_slash) {
    const struct {
        const char* argv0;
        const char* name;
    } cases[] = {
        {"/usr/local/bin/vorkfade", "vorkfade"},
        {"vorka", "vorka"},
        {"./bin/", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        set_program_name(c.argv0);
        EXPECT_STREQ(program_name, c.name) << c.argv0;
    }
}

TEST(squeeze_blanks, tidies_blanks_in_place) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"  abc  ", "abc"},   {"a  b  c   ", "a b c"},
        {"a \tb", "a b"},     {"a\t b", "a\tb"},
        {"x\ny", "x\ny"},     {"\t\n a b \r\n", "a b"},
        {"a \v b", "a \v b"}, {"a \f b", "a \f b"},
        {"  ", ""},           {"", ""},
        {"abc", "abc"},       {"\xe9 \xe9", "\xe9 \xe9"},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        EXPECT_EQ(squeeze_blanks(text.data()), text.data());
        EXPECT_STREQ(text.c_str(), c.out) << '"' << c.in << '"';
    }
    EXPECT_EQ(squeeze_blanks(nullptr), nullptr);
}

TEST(exit_paths, print_one_message_and_request_status_1) {
    set_program_name("/bin/vorkfade");
    auto result = run_captured([] {
        errno = ENOENT;
        exit_with_errno("/no/such/file");
    });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vorkfade: /no/such/file: No such file or directory\n");
    EXPECT_EQ(result.out, "");

    result = run_captured([] { exit_out_of_memory(); });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vorkfade: Out of memory.\n");

    result = run_captured([] { alloc_or_exit(UINT64_MAX); });
    EXPECT_EQ(result.status, 1);
    // The sanitizer build's allocator adds a warning line of its own first.
    EXPECT_TRUE(result.err.ends_with("vorkfade: Out of memory.\n")) << result.err;

    void* block = alloc_or_exit(65536);
    EXPECT_NE(block, nullptr);
    std::free(block);
}

TEST(run_main, turns_requests_and_bad_alloc_into_statuses) {
    set_program_name("vorka");
    static char arg0[] = "vorka";
    char* argv[] = {arg0, nullptr};
    EXPECT_EQ(run_main([](int, char**) { return 0; }, 1, argv), 0);
    EXPECT_EQ(run_main([](int, char**) -> int { throw exit_request{7}; }, 1, argv), 7);
    auto result = run_captured([&] {
        EXPECT_EQ(run_main([](int, char**) -> int { throw std::bad_alloc(); }, 1, argv), 1);
    });
    EXPECT_EQ(result.err, "vorka: Out of memory.\n");
}

namespace {

// run_main in a child whose standard output and standard error go where
// `place` puts them; the status it ends with.
int run_main_in_child(const std::function<void()>& place, int (*body)(int, char**)) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        place();
        static char arg0[] = "vorka";
        char* argv[] = {arg0, nullptr};
        ::_exit(run_main(body, 1, argv));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void put_on(int fd, const std::string& path, int flags) {
    const int opened = ::open(path.c_str(), flags, 0644);
    ::dup2(opened, fd);
}

// Standard error on a pipe whose reader has gone, SIGPIPE ignored as many
// service managers leave it.
void err_on_broken_pipe() {
    int ends[2];
    if (::pipe(ends) != 0) {
        ::_exit(99);
    }
    ::close(ends[0]);
    ::signal(SIGPIPE, SIG_IGN);
    ::dup2(ends[1], 2);
}

}  // namespace

// A run whose messages, listing or report could not be written has not
// done its work, whatever its body returned.
TEST(run_main, a_lost_standard_stream_ends_with_status_1) {
    set_program_name("vorka");
    temp_dir dir;
    const std::string err = dir / "err";
    const auto to_stdout = [](int, char**) {
        std::fputs("listing\n", stdout);
        return 0;
    };
    const auto to_stderr = [](int, char**) {
        std::fputs("listing\n", stderr);
        return 0;
    };
    const auto silent = [](int, char**) { return 0; };
    const int create = O_WRONLY | O_CREAT | O_TRUNC;
    const struct {
        const char* what;
        std::function<void()> place;
        int (*body)(int, char**);
        int status;
        std::string err;
    } cases[] = {
        {"stdout full",
         [&] {
             put_on(1, "/dev/full", O_WRONLY);
             put_on(2, err, create);
         },
         to_stdout, 1, "vorka: write(standard output): No space left on device\n"},
        {"stderr full", [&] { put_on(2, "/dev/full", O_WRONLY); }, to_stderr, 1, ""},
        {"stderr on a broken pipe", err_on_broken_pipe, to_stderr, 1, ""},
        {"stderr closed", [] { ::close(2); }, to_stderr, 1, ""},
        {"nothing written to full streams",
         [&] {
             put_on(1, "/dev/full", O_WRONLY);
             put_on(2, "/dev/full", O_WRONLY);
         },
         silent, 0, ""},
        {"stdout and stderr intact",
         [&] {
             put_on(1, "/dev/null", O_WRONLY);
             put_on(2, err, create);
         },
         to_stderr, 0, "listing\n"},
    };
    for (const auto& c : cases) {
        write_file(err, "");
        EXPECT_EQ(run_main_in_child(c.place, c.body), c.status) << c.what;
        EXPECT_EQ(read_file(err), c.err) << c.what;
    }
}

TEST(write_all, writes_everything_or_reports_the_failure) {
    set_program_name("vorka");
    temp_dir dir;
    const std::string path = dir / "out";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string big(1 << 20, 'x');
    write_all(fd, big.data(), big.size());
    ::close(fd);
    EXPECT_EQ(read_file(path), big);

    fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    auto result = run_captured([&] { write_all(fd, "abcd", 4); });
    ::close(fd);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vorka: write(): No space left on device\n");
}

TEST(write_all, continues_after_a_short_write_until_the_failure) {
    // A file size limit makes the kernel accept part of the block and then
    // refuse the rest: the accepted part must be kept and the rest reported.
    set_program_name("vorka");
    temp_dir dir;
    const std::string path = dir / "limited";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 4096;  // leaves room for the captured message itself
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::lseek(fd, 4086, SEEK_SET);
    auto result = run_captured([&] { write_all(fd, "0123456789abcdefghij", 20); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    ::close(fd);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vorka: write(): File too large\n");
    EXPECT_EQ(read_file(path).substr(4086), "0123456789");
}
