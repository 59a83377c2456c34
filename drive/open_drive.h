#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scsi/channel.h"
#include "scsi/passthrough/passthrough.h"

// The one place that knows both kinds of drive: a regular file is a CUE
// sheet served by the emulated drive; anything else goes to the platform's
// pass-through.
passthrough_open_result open_passthrough(const std::string& path);

// Opens the drive named by the path as the command channel's device; on
// failure prints "<program>: <why>" and ends the run with status 1.  When
// `sources` is given it receives the files the drive serves (a disc image's
// cue sheet and BIN files; none for a real drive).
std::unique_ptr<scsi_device> open_drive(const std::string& path,
                                        std::vector<source_file>* sources = nullptr);
