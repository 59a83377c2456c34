#pragma once

// A file that a fuzz target fills with each input in turn, for the code
// that reads files by name.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

class scratch_file {
  public:
    explicit scratch_file(const char* label) {
        path_ = std::string("/tmp/vorka-fuzz-") + label + "-XXXXXX";
        fd_ = ::mkstemp(path_.data());
        if (fd_ < 0) {
            std::abort();
        }
    }
    ~scratch_file() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    scratch_file(const scratch_file&) = delete;
    scratch_file& operator=(const scratch_file&) = delete;

    const std::string& path() const { return path_; }

    // Makes the file hold exactly these bytes.  Written in place and then
    // cut to size: truncating a file to nothing and writing it again makes
    // some file systems flush it to disk at every close.
    void hold(const std::uint8_t* data, std::size_t size) const {
        if ((size > 0 && ::pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) ||
            ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
            std::abort();
        }
    }

  private:
    std::string path_;
    int fd_ = -1;
};
