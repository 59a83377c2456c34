#include "scsi/passthrough/cam_passthrough.h"

// clang-format off
#include <cstdio>  // before camlib.h: CAM's headers use FILE without including it
#include <camlib.h>
// clang-format on
#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "scsi/passthrough/sg_io_answer.h"

namespace {

// Every command asks for pass(4)'s own error recovery (retries, unit
// attentions) and keeps the device queue running after a failure: some
// failures (a refused mode command, a data-track probe) are followed by
// further commands.
constexpr std::uint32_t common_flags = CAM_DEV_QFRZDIS | CAM_PASS_ERR_RECOVER;

std::uint32_t request_flags(data_direction direction) {
    switch (direction) {
        case data_direction::in:
            return CAM_DIR_IN | common_flags;
        case data_direction::out:
            return CAM_DIR_OUT | common_flags;
        case data_direction::none:
            break;
    }
    return CAM_DIR_NONE | common_flags;
}

// csio_build's CDB text for n bytes, each taken from the arguments: "v v v".
std::array<char, 2 * CAM_MAX_CDBLEN> cdb_text(std::size_t n) {
    std::array<char, 2 * CAM_MAX_CDBLEN> text{};
    for (std::size_t i = 0; i < n; ++i) {
        text[2 * i] = 'v';
        text[2 * i + 1] = i + 1 < n ? ' ' : '\0';
    }
    return text;
}

scsi_outcome not_sent(int error) {
    scsi_outcome outcome;
    outcome.what = scsi_outcome::kind::not_sent;
    outcome.system_error = error;
    return outcome;
}

scsi_outcome failed(std::uint32_t status) {
    scsi_outcome outcome;
    outcome.what = scsi_outcome::kind::failed;
    outcome.status = static_cast<int>(status);  // printed signed, flag bits and all
    return outcome;
}

class cam_passthrough : public passthrough {
  public:
    cam_passthrough(cam_device* device, union ccb* request) : device_(device), ccb_(request) {}
    ~cam_passthrough() override {
        cam_freeccb(ccb_);
        cam_close_device(device_);
    }
    cam_passthrough(const cam_passthrough&) = delete;
    cam_passthrough& operator=(const cam_passthrough&) = delete;

    scsi_outcome send(const scsi_request& request) override;

    bool print_sense(std::FILE* stream) override {
        scsi_sense_print(device_, &ccb_->csio, stream);
        return true;
    }

  private:
    bool build(const scsi_request& request);
    scsi_outcome completed(const scsi_request& request) const;
    scsi_outcome status_error() const;

    cam_device* device_;
    union ccb* ccb_;
};

// csio_build clears the whole request, header included, and fills in the
// SCSI I/O request: data, length, flags, retries, time-out and the CDB.
bool cam_passthrough::build(const scsi_request& request) {
    const std::size_t n = request.cdb.size();
    if (n == 0 || n > CAM_MAX_CDBLEN) {
        return false;
    }
    std::array<int, CAM_MAX_CDBLEN> b{};
    std::copy(request.cdb.begin(), request.cdb.end(), b.begin());
    std::uint8_t* data = request.data.empty() ? nullptr : request.data.data();
    const auto text = cdb_text(n);
    return csio_build(&ccb_->csio, data, static_cast<std::uint32_t>(request.data.size()),
                      request_flags(request.direction), request.retries, request.timeout_ms,
                      text.data(), b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9],
                      b[10], b[11], b[12], b[13], b[14], b[15]) != -1;
}

// A read that delivered fewer bytes than asked for is a failure: zeros or
// stale bytes passed on as audio would spoil a rip unseen.  It is reported
// as CAM's own data underrun status.  Commands with an allocation length
// may answer short; the rest of their buffer is cleared.
scsi_outcome cam_passthrough::completed(const scsi_request& request) const {
    const std::uint32_t missing = ccb_->csio.resid;
    if (request.direction != data_direction::in || missing == 0) {
        return {};
    }
    if (!answer_may_be_short(request.cdb[0]) || missing > request.data.size()) {
        return failed((ccb_->ccb_h.status & ~std::uint32_t{CAM_STATUS_MASK}) | CAM_DATA_RUN_ERR);
    }
    std::fill(request.data.end() - missing, request.data.end(), 0);
    return {};
}

scsi_outcome cam_passthrough::status_error() const {
    const ccb_scsiio& csio = ccb_->csio;
    scsi_outcome outcome;
    outcome.what = scsi_outcome::kind::status_error;
    outcome.status = csio.scsi_status;
    if ((ccb_->ccb_h.status & CAM_AUTOSNS_VALID) != 0 && csio.sense_resid < csio.sense_len) {
        const std::size_t valid = csio.sense_len - csio.sense_resid;
        outcome.sense_length = std::min(valid, outcome.sense.size());
        std::memcpy(outcome.sense.data(), &csio.sense_data, outcome.sense_length);
    }
    return outcome;
}

scsi_outcome cam_passthrough::send(const scsi_request& request) {
    if (!build(request)) {
        return not_sent(EINVAL);
    }
    if (cam_send_ccb(device_, ccb_) < 0) {
        return not_sent(errno);
    }
    const std::uint32_t status = ccb_->ccb_h.status;
    switch (status & CAM_STATUS_MASK) {
        case CAM_REQ_CMP:
            return completed(request);
        case CAM_SCSI_STATUS_ERROR:
            return status_error();
        default:
            return failed(status);
    }
}

bool is_digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::string cam_unit_path(const std::string& path) {
    const std::size_t start = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
    const std::string_view name = std::string_view(path).substr(start);
    // "cd", one or more digits, one letter of the old partitions a..h.
    if (name.size() < 4 || !name.starts_with("cd") || name.back() < 'a' || name.back() > 'h') {
        return path;
    }
    const std::string_view unit = name.substr(2, name.size() - 3);
    if (!std::all_of(unit.begin(), unit.end(), is_digit)) {
        return path;
    }
    return path.substr(0, path.size() - 1);
}

passthrough_open_result open_cam_passthrough(const std::string& path) {
    passthrough_open_result result;
    // Read-write: pass(4) takes commands only on a descriptor opened for
    // both, and libcam opens /dev/xpt0 read-write in any case.
    cam_device* device = cam_open_device(cam_unit_path(path).c_str(), O_RDWR);
    if (device == nullptr) {
        result.error = cam_errbuf;
        return result;
    }
    union ccb* request = cam_getccb(device);
    if (request == nullptr) {
        cam_close_device(device);
        result.error = "couldn't allocate CCB";
        return result;
    }
    result.device = std::make_unique<cam_passthrough>(device, request);
    return result;
}
