#include "drive/open_drive.h"

#include <sys/stat.h>

#include <cstdio>
#include <utility>

#include "common/exit.h"
#include "common/program_name.h"
#include "image/emulated_drive.h"
#include "scsi/passthrough/sg_io.h"

namespace {

bool exists(const char* path) {
    struct stat info;
    return path != nullptr && ::stat(path, &info) == 0;
}

}  // namespace

const char* first_cd_drive_path() {
#if defined(__FreeBSD__)
    return "/dev/cd0";
#elif defined(__linux__)
    return "/dev/sr0";
#else
    return nullptr;
#endif
}

std::string default_drive_path(const std::string& builtin, const char* first_cd) {
    if (!exists(builtin.c_str()) && exists(first_cd)) {
        return first_cd;
    }
    return builtin;
}

passthrough_open_result open_passthrough(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        return open_emulated_drive(path);
    }
    return open_platform_passthrough(path);
}

std::unique_ptr<scsi_device> open_drive(const std::string& path,
                                        std::vector<source_file>* sources) {
    passthrough_open_result opened = open_passthrough(path);
    if (opened.device == nullptr) {
        std::fprintf(stderr, "%s: %s\n", program_name, opened.error.c_str());
        throw exit_request{1};
    }
    if (sources != nullptr) {
        *sources = std::move(opened.sources);
    }
    return scsi_attach(std::move(opened.device));
}
