#include "common/exit.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/interrupt.h"
#include "common/program_name.h"

void exit_out_of_memory() {
    std::fprintf(stderr, "%s: Out of memory.\n", program_name);
    throw exit_request{1};
}

void exit_with_errno(const char* operation) {
    const int saved = errno;
    std::fprintf(stderr, "%s: %s: %s\n", program_name, operation, std::strerror(saved));
    throw exit_request{1};
}

void* alloc_or_exit(std::uint64_t size) {
    void* block = size <= SIZE_MAX ? std::malloc(static_cast<std::size_t>(size)) : nullptr;
    if (block == nullptr) {
        exit_out_of_memory();
    }
    return block;
}

void reserve_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // open() returns the lowest free descriptor, which is this one.
        const int placeholder = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (placeholder >= 0 && placeholder != fd) {
            ::close(placeholder);  // cannot happen while fd is free; keep the table tidy
        }
    }
}

namespace {

// Whether what the program wrote to the stream all arrived: the buffer
// empties and no earlier write failed.
bool stream_intact(std::FILE* stream) {
    return std::fflush(stream) == 0 && std::ferror(stream) == 0;
}

}  // namespace

int check_standard_streams(int status) {
    errno = 0;  // set only by a flush that fails now
    const bool output_intact = stream_intact(stdout);
    const int saved = errno;
    if (!stream_intact(stderr)) {
        return status != 0 ? status : 1;  // nowhere left to say so
    }
    if (output_intact || status != 0) {
        return status;  // a failed run has printed its message already
    }
    std::fprintf(stderr, "%s: write(standard output): %s\n", program_name,
                 std::strerror(saved != 0 ? saved : EIO));
    return 1;
}

int run_main(int (*body)(int, char**), int argc, char** argv) {
    reserve_standard_descriptors();
    int status = 1;
    try {
        status = body(argc, argv);
    } catch (const exit_request& request) {
        if (request.signal != 0) {
            std::fflush(nullptr);
            end_by_signal(request.signal);
        }
        status = request.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: Out of memory.\n", program_name);
    }
    return check_standard_streams(status);
}
