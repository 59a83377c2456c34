#pragma once

// SIGINT, SIGTERM, SIGHUP and SIGPIPE end a run between two of its steps
// instead of wherever they strike: the step in flight (a SCSI command, a
// write) ends first, and what the run must put back (the drive's read mode)
// is put back while the exit_request unwinds.  run_main then ends the process
// by the same signal, so that the shell sees 130, 143, 129 or 141.

// Installs the handlers that note the signal, except for signals the program
// was started with ignored.  Blocking system calls are not restarted, so a
// write to a stalled pipe returns and the run can stop.
// With quit_signal::noted, SIGQUIT is noted as well: for a program whose
// every step must end whole (vorkfade's block writes), not one that may be
// asked for a core dump in the middle of a drive command.
enum class quit_signal { left_alone, noted };
void catch_interrupts(quit_signal quit = quit_signal::left_alone);

// The signal noted since catch_interrupts, or 0.
int pending_interrupt();

// Throws the exit_request of a pending signal; returns when there is none.
void stop_if_interrupted();

// Default disposition for the signal, then raises it.  Returns only when the
// signal does not end the process.
void end_by_signal(int signal_number);
