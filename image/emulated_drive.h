#pragma once

#include <string>

#include "scsi/passthrough/passthrough.h"

// A drive that serves the CUE sheet at the path and its BIN files.  The
// error text names the cue sheet, the line and what is wrong.
passthrough_open_result open_emulated_drive(const std::string& cue_path);
