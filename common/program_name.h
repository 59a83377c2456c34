#pragma once

// The name that prefixes every diagnostic: the text after the last "/" of
// argument 0.  The one process-wide mutable value of both programs.
extern const char* program_name;

void set_program_name(const char* argv0);
