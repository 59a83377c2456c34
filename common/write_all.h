#pragma once

#include <sys/types.h>

#include <cstddef>

// What a noted interrupt (common/interrupt.h) does to a write in progress.
enum class on_interrupt {
    stop,      // the run stops before the next write
    carry_on,  // the block is written all the same: finishing a regular file,
               // which never blocks, on the run's way out
};

// Writes the whole block to the descriptor, continuing after short writes and
// EINTR.  A failure prints "<program>: <operation>: <system text>" and ends
// the run with status 1; nothing is silently lost.
void write_all(int fd, const void* data, std::size_t size, const char* operation = "write()",
               on_interrupt interrupt = on_interrupt::stop);

// Writes the whole block at the given offset of a regular file (pwrite),
// continuing after short writes and EINTR, for rewriting a file in place;
// the descriptor's own offset stays where it is.  A noted interrupt never
// stops it halfway: the caller checks between blocks.  Failures are reported
// as for write_all.
void write_all_at(int fd, const void* data, std::size_t size, off_t offset,
                  const char* operation = "write()");
