#pragma once

#include <string>

// Per-track output names.  The name (after the extension has been put in)
// holds integer conversions that receive the track number: d i u o x X with
// the flags - + space # 0, a width, a precision and the length modifiers hh,
// h, l and ll; "%%" stands for "%".  The user's text is never handed to
// printf as a format, so "%s" or "%n" cannot reach memory: any conversion
// other than those is refused.  A name without conversions names every
// track the same.

// Refuses a name with a conversion the track number cannot fill: prints
// "<program>: Invalid conversion "<conversion>" in output file name "<shown>"."
// and ends the run with status 1.  shown is the name as the user gave it.
// Call it once, before the drive is touched.
void check_track_name_template(const std::string& name, const std::string& shown);

// True when the name holds an integer conversion, so that every track
// number gives a name of its own.  The name must have passed the check.
bool names_each_track(const std::string& name);

// The file name of one track.  The name must have passed the check.
std::string format_track_name(const std::string& name, int track_number);
