#pragma once

#include <string>

#include "scsi/passthrough/passthrough.h"

// FreeBSD's CAM pass-through (libcam) on a CD drive: every command goes
// through the one CCB obtained at open time.  The error text is libcam's
// own (cam_errbuf), or "couldn't allocate CCB".
passthrough_open_result open_cam_passthrough(const std::string& path);

// The node libcam can parse for a path: a CD name with the partition letter
// of old systems ("/dev/cd0c") becomes the unit alone ("/dev/cd0"); every
// other path stays as it is.
std::string cam_unit_path(const std::string& path);
