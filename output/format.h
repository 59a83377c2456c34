#pragma once

#include <cstdint>
#include <string>

#include "output/audio_encoder.h"

// Writes a format's header for a payload of the given size to the
// descriptor (nothing for the headerless formats).  Write failures are
// reported and end the run through write_all.
using header_writer = void (*)(std::uint64_t payload_bytes, int fd);

// One output format.  byte_swap 1: every 16-bit sample leaves with its two
// bytes exchanged relative to CD-DA order (big-endian samples).  A format
// with start_encoder writes no header and no raw payload: its audio goes
// through the encoder, which cannot carry data tracks.
struct format_entry {
    const char* name;
    const char* extension;
    header_writer write_header;
    std::uint8_t byte_swap;
    encoder_starter start_encoder = nullptr;
};

// The fixed table of the six formats, ended by an all-zero row whose empty
// (null) name ends every walk.  Row 0, "pcm", is the default format.
extern const format_entry output_formats[7];

inline const format_entry& default_format() {
    return output_formats[0];
}

// The row whose name equals the text without regard to ASCII case, or null.
const format_entry* find_format(const char* name);

// The "-f" lookup: makes the named row the selected format and returns 0.  A
// name that is in no row calls on_unknown (the help text, which ends the run);
// should it return, the run ends with status 1 all the same.
int select_format(const char* name, const format_entry*& selected, void (*on_unknown)());

// The template with its first "%s" replaced by the format's extension.
std::string expand_output_name(const std::string& name_template, const format_entry& format);
