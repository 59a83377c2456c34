// Preloaded into cd-discid by the tests: answers the kernel's CD-ROM
// table-of-contents ioctls from VORKA_FAKE_TOC ("START[d] ... LEADOUT",
// sectors, "d" marking a data track) and passes every other ioctl on.

#include <dlfcn.h>
#include <linux/cdrom.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

namespace {

struct fake_toc {
    int tracks = 0;
    long start[101] = {};
    bool data[101] = {};
};

bool read_fake_toc(fake_toc& toc) {
    const char* text = std::getenv("VORKA_FAKE_TOC");
    if (text == nullptr) {
        return false;
    }
    int entries = 0;
    for (char* end = nullptr; entries < 101; text = end) {
        const long value = std::strtol(text, &end, 10);
        if (end == text) {
            break;
        }
        toc.start[entries] = value;
        if (*end == 'd') {
            toc.data[entries] = true;
            ++end;
        }
        ++entries;
    }
    toc.tracks = entries - 1;
    return toc.tracks > 0;
}

void put_address(cdrom_tocentry& entry, long lba) {
    if (entry.cdte_format == CDROM_LBA) {
        entry.cdte_addr.lba = static_cast<int>(lba);
        return;
    }
    const long address = lba + 150;
    entry.cdte_addr.msf.minute = static_cast<unsigned char>(address / 4500);
    entry.cdte_addr.msf.second = static_cast<unsigned char>(address / 75 % 60);
    entry.cdte_addr.msf.frame = static_cast<unsigned char>(address % 75);
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    fake_toc toc;
    if ((request == CDROMREADTOCHDR || request == CDROMREADTOCENTRY) && read_fake_toc(toc)) {
        if (request == CDROMREADTOCHDR) {
            auto* header = static_cast<cdrom_tochdr*>(argument);
            header->cdth_trk0 = 1;
            header->cdth_trk1 = static_cast<unsigned char>(toc.tracks);
            return 0;
        }
        auto* entry = static_cast<cdrom_tocentry*>(argument);
        const int track = entry->cdte_track;
        const int index = track == CDROM_LEADOUT ? toc.tracks : track - 1;
        if (index < 0 || index > toc.tracks) {
            errno = EINVAL;
            return -1;
        }
        entry->cdte_adr = 1;
        entry->cdte_ctrl = toc.data[index] ? CDROM_DATA_TRACK : 0;
        entry->cdte_datamode = 0;
        put_address(*entry, toc.start[index]);
        return 0;
    }
    using ioctl_function = int (*)(int, unsigned long, ...);
    auto next = reinterpret_cast<ioctl_function>(dlsym(RTLD_NEXT, "ioctl"));
    return next(fd, request, argument);
}
