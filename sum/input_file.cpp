#include "sum/input_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool set_blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

int open_input(const std::string& path, input_kind& kind, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        error = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    if (S_ISREG(status.st_mode)) {
        kind = input_kind::file;
    } else if (S_ISFIFO(status.st_mode)) {
        // Stays non-blocking until its first bytes are read: that read
        // tells a pipe without a writer (end of file) from a writer that
        // has not written yet.
        kind = input_kind::pipe;
        return fd;
    } else {
        error = "not a regular file";
        ::close(fd);
        return -1;
    }
    if (!set_blocking(fd)) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool read_pipe_start(int fd, std::size_t size, std::vector<std::uint8_t>& bytes,
                     std::string& error) {
    bytes.resize(size);
    std::size_t have = 0;
    bool writer_seen = false;
    bool waited = false;
    while (have < size) {
        const ssize_t got = ::read(fd, bytes.data() + have, size - have);
        if (got > 0) {
            have += static_cast<std::size_t>(got);
            writer_seen = true;
        } else if (got == 0) {
            if (writer_seen || waited) {
                break;
            }
            // Nobody has the pipe open for writing: wait a moment for a
            // writer to open it (poll wakes when one writes or closes).
            pollfd wait{fd, POLLIN, 0};
            ::poll(&wait, 1, pipe_writer_grace_ms);
            waited = true;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            writer_seen = true;  // there is a writer; its data is coming
            if (!set_blocking(fd)) {
                error = std::strerror(errno);
                return false;
            }
        } else if (errno != EINTR) {
            error = std::strerror(errno);
            return false;
        }
    }
    bytes.resize(have);
    if (!set_blocking(fd)) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}
