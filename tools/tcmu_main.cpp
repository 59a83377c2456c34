// vorka-tcmu: serves a CUE/BIN image through the emulated drive to the
// kernel's user-space SCSI target, so that the image becomes a CD drive of
// the system (/dev/sr*, /dev/sg*) that every CD program can read.

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/exit.h"
#include "common/program_name.h"
#include "image/emulated_drive.h"
#include "scsi/channel.h"
#include "tools/tcmu_ring.h"

namespace {

volatile std::sig_atomic_t stop_signal = 0;

void on_signal(int signal) {
    stop_signal = signal;
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program_name, message.c_str());
    throw exit_request{1};
}

void usage() {
    std::fprintf(stderr,
                 "usage: %s DEVICE CUE\n"
                 "  DEVICE: the uio device of a target_core_user backstore (/dev/uioN),\n"
                 "          or the name of that backstore\n"
                 "  Serves the disc image CUE to the kernel until SIGINT, SIGTERM or SIGHUP.\n",
                 program_name);
    throw exit_request{1};
}

std::string read_line(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The backstore's name is the third field of the uio device's name,
// "tcm-user/<hba>/<backstore>/<configuration>".
std::string backstore_of_uio(const std::string& uio_name) {
    const std::string prefix = "tcm-user/";
    if (uio_name.rfind(prefix, 0) != 0) {
        return {};
    }
    const std::size_t first = uio_name.find('/', prefix.size());
    const std::size_t last = uio_name.find('/', first + 1);
    if (first == std::string::npos || last == std::string::npos) {
        return {};
    }
    return uio_name.substr(first + 1, last - first - 1);
}

std::string uio_of_backstore(const std::string& name) {
    const std::filesystem::path uio_class = "/sys/class/uio";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(uio_class, ignored)) {
        if (backstore_of_uio(read_line(entry.path() / "name")) == name) {
            return "/dev/" + entry.path().filename().string();
        }
    }
    fail("no target_core_user backstore named \"" + name + "\" (" + uio_class.string() + ")");
}

std::size_t shared_memory_size(const std::string& device) {
    const std::string uio = std::filesystem::path(device).filename().string();
    const std::filesystem::path size_file = "/sys/class/uio/" + uio + "/maps/map0/size";
    const std::string text = read_line(size_file);
    char* end = nullptr;
    const unsigned long long size = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || size == 0) {
        fail(size_file.string() + ": no size of the shared memory");
    }
    return static_cast<std::size_t>(size);
}

void catch_stop_signals(sigset_t& wait_mask) {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&blocked, signal);
    }
    // Blocked except while waiting, so a signal cannot slip in between the
    // check and the wait.
    sigprocmask(SIG_BLOCK, &blocked, &wait_mask);
}

struct served_log {
    std::FILE* file = nullptr;
    ~served_log() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

void serve(int fd, tcmu_ring& ring, passthrough& drive, std::FILE* log) {
    sigset_t wait_mask;
    catch_stop_signals(wait_mask);
    const tcmu_ring::observer observe = [log](const scsi_request& request,
                                              const scsi_outcome& outcome) {
        std::fputs(scsi_log_line(request, outcome).c_str(), log);
        std::fflush(log);
    };
    while (stop_signal == 0) {
        std::string error;
        const long served = ring.serve(drive, log != nullptr ? observe : nullptr, error);
        if (served < 0) {
            fail(error);
        }
        const std::uint32_t done = 1;
        if (served > 0 && ::write(fd, &done, sizeof done) != sizeof done) {
            exit_with_errno("write(uio)");
        }
        pollfd wait{fd, POLLIN, 0};
        if (::ppoll(&wait, 1, nullptr, &wait_mask) < 0) {
            if (errno == EINTR) {
                continue;
            }
            exit_with_errno("poll(uio)");
        }
        std::uint32_t events = 0;
        if (::read(fd, &events, sizeof events) < 0 && errno != EINTR && errno != EAGAIN) {
            exit_with_errno("read(uio)");
        }
    }
}

int body(int argc, char** argv) {
    set_program_name(argv[0]);
    if (argc != 3 || argv[1][0] == '-') {
        usage();
    }
    const std::string device = argv[1][0] == '/' ? argv[1] : uio_of_backstore(argv[1]);
    const std::string cue = argv[2];
    passthrough_open_result opened = open_emulated_drive(cue);
    if (opened.device == nullptr) {
        fail(opened.error);
    }
    served_log log;
    if (const char* path = std::getenv("VORKA_SCSI_LOG"); path != nullptr && *path != '\0') {
        log.file = std::fopen(path, "a");
        if (log.file == nullptr) {
            exit_with_errno(path);
        }
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        exit_with_errno(device.c_str());
    }
    const std::size_t size = shared_memory_size(device);
    void* shared = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (shared == MAP_FAILED) {
        exit_with_errno("mmap(uio)");
    }
    tcmu_ring ring;
    std::string error;
    if (!ring.attach({static_cast<std::uint8_t*>(shared), size}, error)) {
        fail(device + ": " + error);
    }
    std::fprintf(stderr, "%s: serving %s through %s\n", program_name, cue.c_str(), device.c_str());
    serve(fd, ring, *opened.device, log.file);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return run_main(body, argc, argv);
}
