#include "common/write_all.h"

#include <unistd.h>

#include <cerrno>

#include "common/exit.h"
#include "common/interrupt.h"

void write_all(int fd, const void* data, std::size_t size, const char* operation,
               on_interrupt interrupt) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        // A signal noted before the write would not interrupt a write that
        // then waits on a full pipe.
        if (interrupt == on_interrupt::stop) {
            stop_if_interrupted();
        }
        const ssize_t written = ::write(fd, next, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EPIPE && interrupt == on_interrupt::stop) {
                stop_if_interrupted();  // SIGPIPE, when it is caught
            }
            exit_with_errno(operation);
        }
        if (written == 0) {
            // A descriptor that accepts nothing and reports no error would
            // loop for ever; call it what it is.
            errno = EIO;
            exit_with_errno(operation);
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
}

void write_all_at(int fd, const void* data, std::size_t size, off_t offset, const char* operation) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, next, size, offset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            exit_with_errno(operation);
        }
        if (written == 0) {
            errno = EIO;  // as in write_all: no progress and no error
            exit_with_errno(operation);
        }
        next += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
}
