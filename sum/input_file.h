#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The files vorkasum is given (audio files and the database entry) are
// opened without blocking, so that a FIFO with no writer, a terminal or a
// device never holds the run in open(): they are checked first.  A regular
// file is read as a file; a pipe (an anonymous one, as a shell's <(...)
// gives, or a FIFO) is read once, from its start to its end.

enum class input_kind { file, pipe };

// The open descriptor (blocking again), or -1 with the reason in `error`:
// the system's text, or "not a regular file" for what is neither a regular
// file nor a pipe (a directory, a device).
int open_input(const std::string& path, input_kind& kind, std::string& error);

// Up to `size` bytes from the start of a pipe, fewer when it ends before.
// A pipe that has no writer when it is opened is given a moment for one
// to arrive (a FIFO's writer may be about to open it); after that it reads
// as empty.  A writer that is there but slow is waited for, as any reader
// of a pipe does.  false with the system's text in `error`.
bool read_pipe_start(int fd, std::size_t size, std::vector<std::uint8_t>& bytes,
                     std::string& error);

// How long a pipe without a writer is given, in milliseconds.
inline constexpr int pipe_writer_grace_ms = 500;
