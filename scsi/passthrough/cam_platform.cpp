// On FreeBSD the platform's pass-through is CAM.
#include "scsi/passthrough/cam_passthrough.h"
#include "scsi/passthrough/sg_io.h"

// pass(4) takes commands only on a read-write descriptor, whatever they are.
passthrough_open_result open_platform_passthrough(const std::string& path, drive_access) {
    return open_cam_passthrough(path);
}
