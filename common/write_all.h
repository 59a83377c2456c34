#pragma once

#include <cstddef>

// Writes the whole block to the descriptor, continuing after short writes and
// EINTR.  A failure prints "<program>: <operation>: <system text>" and ends
// the run with status 1; nothing is silently lost.  A noted interrupt
// (common/interrupt.h) stops the run before the next write.
void write_all(int fd, const void* data, std::size_t size, const char* operation = "write()");
