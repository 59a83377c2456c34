#pragma once

#include <cstdint>

// Carries the process's exit status from the place where a failure is met
// (after its message has been printed) to main.  Only main catches it.
struct exit_request {
    int status;
    // A signal that asked the run to stop: main ends the process by it once
    // everything has unwound.
    int signal = 0;
};

// "<program>: Out of memory." and status 1.
[[noreturn]] void exit_out_of_memory();

// "<program>: <operation>: <strerror(errno)>" and status 1.  errno is taken
// before anything is printed.
[[noreturn]] void exit_with_errno(const char* operation);

// A new uninitialised block from malloc, or the out-of-memory exit.  The
// caller frees it with std::free.
void* alloc_or_exit(std::uint64_t size);

// Puts /dev/null, opened for the opposite direction, on every standard
// descriptor (0, 1, 2) that the program was started without.  A file opened
// later can then never land on one of them and receive messages or a report
// meant for the terminal, while reading or writing the closed stream still
// fails as it would have.
void reserve_standard_descriptors();

// The status to end with once the standard streams are flushed: 1 when a
// message, a listing or a report written to standard output or standard
// error was lost (a full disk, a pipe whose reader has gone with SIGPIPE
// ignored, a closed stream), otherwise `status`.  A loss of standard output
// is reported on standard error when that still works.
int check_standard_streams(int status);

// Reserves the standard descriptors, runs a program body, turns
// exit_request and std::bad_alloc into the process status and checks the
// standard streams.  Both programs' main functions are this call alone.
int run_main(int (*body)(int, char**), int argc, char** argv);
