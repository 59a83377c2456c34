#pragma once

// The whole vorkfade run: <0% offset> <100% offset> <PCM file>.  Returns 0
// after a completed fade; the usage text and every failure end the run with
// an exit_request.
int fade_main(int argc, char** argv);

// The usage text on standard error, then the end of the run with status 0.
[[noreturn]] void print_fade_usage();
