#include "common/common_test_util.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "common/exit.h"

namespace fs = std::filesystem;

namespace {

std::string default_temp_base() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
}

}  // namespace

temp_dir::temp_dir() : temp_dir(default_temp_base()) {}

temp_dir::temp_dir(const std::filesystem::path& base) {
    std::string pattern = (base / "vorka-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {

// Points one standard descriptor at a temporary file for its lifetime.
class fd_capture {
  public:
    explicit fd_capture(int fd) : fd_(fd) {
        std::fflush(nullptr);
        std::FILE* file = std::tmpfile();
        if (file == nullptr) {
            throw std::runtime_error("tmpfile failed");
        }
        file_ = file;
        saved_ = ::dup(fd_);
        ::dup2(::fileno(file_), fd_);
    }
    ~fd_capture() { restore(); }

    std::string take() {
        restore();
        std::string text;
        std::rewind(file_);
        char block[4096];
        std::size_t n;
        while ((n = std::fread(block, 1, sizeof block, file_)) > 0) {
            text.append(block, n);
        }
        return text;
    }

  private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(nullptr);
            ::dup2(saved_, fd_);
            ::close(saved_);
            saved_ = -1;
        }
    }
    int fd_;
    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

}  // namespace

run_result run_captured(const std::function<void()>& body) {
    run_result result;
    fd_capture out(1);
    fd_capture err(2);
    try {
        body();
    } catch (const exit_request& request) {
        result.status = request.status;
    }
    result.err = err.take();
    result.out = out.take();
    return result;
}

std::string program_path(const std::string& name) {
    const char* dir = std::getenv("VORKA_BIN_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

pid_t start_program(const std::vector<std::string>& argv, const std::function<void()>& in_child) {
    std::string program = argv.at(0);
    if (program.find('/') == std::string::npos) {
        program = program_path(program);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        if (in_child) {
            in_child();
        }
        ::execv(program.c_str(), args.data());
        ::_exit(127);
    }
    return pid;
}

int wait_for_child(pid_t pid) {
    int wait_status = 0;
    while (::waitpid(pid, &wait_status, 0) < 0) {
    }
    return wait_status;
}

int shell_status(int wait_status) {
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

run_result run_program(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment, const std::string& stdin_path) {
    temp_dir scratch;
    const std::string out_path = scratch / "stdout";
    const std::string err_path = scratch / "stderr";
    const pid_t pid = start_program(argv, [&] {
        for (const std::string& setting : environment) {
            const auto eq = setting.find('=');
            if (eq == std::string::npos) {
                ::unsetenv(setting.c_str());
            } else {
                ::setenv(setting.substr(0, eq).c_str(), setting.substr(eq + 1).c_str(), 1);
            }
        }
        const int in = ::open(stdin_path.c_str(), O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) {
            ::_exit(127);
        }
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
    });
    run_result result;
    result.status = shell_status(wait_for_child(pid));
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
