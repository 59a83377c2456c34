#include <sys/stat.h>

#include "image/emulated_drive.h"
#include "scsi/passthrough/passthrough.h"
#include "scsi/passthrough/sg_io.h"

passthrough_open_result open_passthrough(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        return open_emulated_drive(path);
    }
    return open_platform_passthrough(path);
}
