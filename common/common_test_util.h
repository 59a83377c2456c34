#pragma once

// Helpers shared by the test executables of every folder.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// A fresh folder under TMPDIR (or /tmp), removed with all its contents when
// the object goes away, also when an assertion has failed.
class temp_dir {
  public:
    temp_dir();
    // The same inside another folder.
    explicit temp_dir(const std::filesystem::path& base);
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

struct run_result {
    int status = 0;
    std::string out;  // what went to standard output
    std::string err;  // what went to standard error
};

// Runs a piece of the program in this process with standard output and
// standard error captured.  The status is 0 when the body returns, or the
// status of the exit_request it throws.
run_result run_captured(const std::function<void()>& body);

// Starts a built program in a child process (argv[0] is looked up in
// VORKA_BIN_DIR unless it holds a "/"; the program sees it as given) and
// returns the child's process id.  in_child runs in the child first: it
// sets up the streams, signals or environment the program starts with.
pid_t start_program(const std::vector<std::string>& argv,
                    const std::function<void()>& in_child = {});

// Waits for a child and returns its wait status (for WIFEXITED and the like).
int wait_for_child(pid_t pid);

// A wait status as the shell gives it: the exit status, or 128 + the signal.
int shell_status(int wait_status);

// Runs a built program as start_program does, with extra environment
// settings ("NAME=value", or "NAME" alone to remove it) and standard input
// from /dev/null or the given file, and waits for it.
run_result run_program(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment = {},
                       const std::string& stdin_path = "/dev/null");

// The built program's path: VORKA_BIN_DIR/<name>.
std::string program_path(const std::string& name);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& contents);
std::vector<std::uint8_t> read_bytes(const std::filesystem::path& path);
