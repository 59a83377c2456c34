#pragma once

#include <memory>
#include <string>

#include "scsi/passthrough/passthrough.h"

// The platform's pass-through on a device node: SG_IO on Linux.  The error
// text is "<path>: <system text>", e.g. "/dev/sr9: No such file or directory".
passthrough_open_result open_platform_passthrough(const std::string& path,
                                                  drive_access access = drive_access::read_write);
