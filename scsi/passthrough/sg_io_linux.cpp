#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "scsi/passthrough/sg_io.h"
#include "scsi/passthrough/sg_io_answer.h"

namespace {

class sg_io_passthrough : public passthrough {
  public:
    explicit sg_io_passthrough(int fd) : fd_(fd) {}
    ~sg_io_passthrough() override { ::close(fd_); }
    sg_io_passthrough(const sg_io_passthrough&) = delete;
    sg_io_passthrough& operator=(const sg_io_passthrough&) = delete;

    scsi_outcome send(const scsi_request& request) override;

  private:
    scsi_outcome send_once(const scsi_request& request);

    int fd_;
    std::array<std::uint8_t, max_sense_bytes> sense_{};
};

int transfer_direction(data_direction direction) {
    switch (direction) {
        case data_direction::in:
            return SG_DXFER_FROM_DEV;
        case data_direction::out:
            return SG_DXFER_TO_DEV;
        case data_direction::none:
            break;
    }
    return SG_DXFER_NONE;
}

scsi_outcome sg_io_passthrough::send_once(const scsi_request& request) {
    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    header.interface_id = 'S';
    header.dxfer_direction = transfer_direction(request.direction);
    header.cmd_len = static_cast<unsigned char>(request.cdb.size());
    header.cmdp = const_cast<unsigned char*>(request.cdb.data());
    header.dxfer_len = static_cast<unsigned>(request.data.size());
    header.dxferp = request.data.empty() ? nullptr : request.data.data();
    header.mx_sb_len = static_cast<unsigned char>(sense_.size());
    header.sbp = sense_.data();
    header.timeout = static_cast<unsigned>(request.timeout_ms);

    sg_io_answer answer;
    do {
        answer.ioctl_result = ::ioctl(fd_, SG_IO, &header);
    } while (answer.ioctl_result < 0 && (errno == EINTR || errno == EAGAIN));
    answer.error = answer.ioctl_result < 0 ? errno : 0;
    answer.status = header.status;
    answer.host_status = header.host_status;
    answer.driver_status = header.driver_status;
    answer.resid = header.resid;
    answer.duration_ms = header.duration;
    answer.sense = {sense_.data(), std::min<std::size_t>(header.sb_len_wr, sense_.size())};

    const sg_io_command command{request.cdb.empty() ? std::uint8_t{0} : request.cdb[0],
                                request.direction, request.data.size(), request.timeout_ms};
    const scsi_outcome outcome = decode_sg_io_answer(answer, command);
    // A drive that answers less than the allocation length leaves the rest
    // of the buffer as it was; zeros are better than the previous command's
    // bytes.
    if (outcome.what == scsi_outcome::kind::completed && request.direction == data_direction::in &&
        answer.resid > 0 && static_cast<std::size_t>(answer.resid) <= request.data.size()) {
        std::fill(request.data.end() - answer.resid, request.data.end(), 0);
    }
    return outcome;
}

// SG_IO never retries; the retries a command is allowed are spent here, on
// the conditions that pass by themselves.
scsi_outcome sg_io_passthrough::send(const scsi_request& request) {
    scsi_outcome outcome = send_once(request);
    for (int attempt = 0; attempt < request.retries && worth_retrying(outcome); ++attempt) {
        outcome = send_once(request);
    }
    return outcome;
}

}  // namespace

passthrough_open_result open_platform_passthrough(const std::string& path, drive_access access) {
    passthrough_open_result result;
    // Read-write only for a caller that sends MODE SELECT, which the kernel
    // refuses on a read-only descriptor; READ TOC and the reads are allowed
    // on one.  Non-blocking so that a drive without a disc or with a pressed
    // CD opens.
    const int mode = access == drive_access::read_write ? O_RDWR : O_RDONLY;
    int fd;
    do {
        fd = ::open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        result.error = path + ": " + std::strerror(errno);
        return result;
    }
    // Anything else that opens (a FIFO, /dev/null, a terminal) would fail
    // only at the first command, with a system text that says nothing
    // about the cause.
    int version = 0;
    if (::ioctl(fd, SG_GET_VERSION_NUM, &version) < 0) {
        ::close(fd);
        result.error = path + ": neither a SCSI device nor a cue sheet";
        return result;
    }
    result.device = std::make_unique<sg_io_passthrough>(fd);
    return result;
}
