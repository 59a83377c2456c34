#include "reader/output_guard.h"

#include <sys/stat.h>

#include <cstdio>

#include "common/exit.h"
#include "common/program_name.h"

void refuse_output_over_sources(std::span<const std::string> output_names,
                                std::span<const source_file> sources) {
    if (sources.empty()) {
        return;
    }
    for (const std::string& name : output_names) {
        struct stat info;
        if (::stat(name.c_str(), &info) != 0) {
            continue;  // a file that does not exist yet is none of them
        }
        for (const source_file& source : sources) {
            if (static_cast<std::uint64_t>(info.st_dev) == source.device &&
                static_cast<std::uint64_t>(info.st_ino) == source.inode) {
                std::fprintf(stderr,
                             "%s: Output file \"%s\" is the disc image file \"%s\"; it would be "
                             "overwritten before it is read.\n",
                             program_name, name.c_str(), source.path.c_str());
                throw exit_request{1};
            }
        }
    }
}
