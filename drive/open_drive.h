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

// The system's first CD drive: /dev/cd0 on FreeBSD, /dev/sr0 on Linux; null
// elsewhere.
const char* first_cd_drive_path();

// The drive a program opens when no device is given: `builtin` ("/dev/cd0c",
// the name of 1999's systems) where it exists; otherwise `first_cd` where
// that exists; otherwise `builtin` all the same, so that the open failure
// names the path the help text shows.
std::string default_drive_path(const std::string& builtin,
                               const char* first_cd = first_cd_drive_path());

// Opens the drive named by the path as the command channel's device; on
// failure prints "<program>: <why>" and ends the run with status 1.  When
// `sources` is given it receives the files the drive serves (a disc image's
// cue sheet and BIN files; none for a real drive).
std::unique_ptr<scsi_device> open_drive(const std::string& path,
                                        std::vector<source_file>* sources = nullptr);
