#pragma once

#include <cstdint>
#include <string>

constexpr std::int64_t frames_per_second = 44100;

// Reads an offset into a file of `size_frames` frames and returns its frame
// index, or -1 when the text is not an offset or lies outside the file.
// Forms, each with optional blanks around the parts:
//   [+|-]<frames>            frames as a C integer: decimal, 0x hex, 0 octal
//   [+|-][<minutes>]:[<seconds>]   seconds may have a fraction or exponent
// A minus sign counts back from the end of the file, so -1 is the last frame
// and -0 names no frame at all.
std::int64_t parse_offset(const char* text, std::int64_t size_frames);

// " m:ss.fffff" for a frame count of 0 or more: minutes padded to two
// characters, the seconds' fraction in hundred-thousandths, rounded.
std::string format_play_time(std::int64_t frames);
