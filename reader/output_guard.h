#pragma once

#include <span>
#include <string>

#include "scsi/passthrough/passthrough.h"

// Refuses, before anything is opened for writing, an output file that is
// one of the files the drive serves (the cue sheet or a BIN file of a disc
// image, also by another name or through a link): opening it would
// truncate what the run is about to read.  Prints
// "<program>: Output file "<name>" is the disc image file "<source>"; it
// would be overwritten before it is read." and ends the run with status 1.
void refuse_output_over_sources(std::span<const std::string> output_names,
                                std::span<const source_file> sources);
