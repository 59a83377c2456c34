// On FreeBSD the platform's pass-through is CAM.
#include "scsi/passthrough/cam_passthrough.h"
#include "scsi/passthrough/sg_io.h"

passthrough_open_result open_platform_passthrough(const std::string& path) {
    return open_cam_passthrough(path);
}
