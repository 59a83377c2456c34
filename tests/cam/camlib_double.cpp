// The libcam double: cam_open_device finds "cd0" (the disc image that
// CAM_DOUBLE_DISC names, served by the emulated drive) the way libcam finds
// a peripheral's pass unit, and cam_send_ccb answers each CCB from that
// drive, checking it as pass(4) would.
//
// CAM_DOUBLE_LOG   a file that gets one line per call: the open, each CCB as
//                  it was sent, the release of the CCB and the close.
// CAM_DOUBLE_FAULT what goes wrong: "no-ccb" (cam_getccb fails), or
//                  "<what>:<opcode>" for the commands with that operation
//                  code (two hex digits): "timeout" (CAM_CMD_TIMEOUT),
//                  "not-sent" (cam_send_ccb fails with ENXIO), "short" (the
//                  command completes with its last 28 bytes not transferred,
//                  as an INQUIRY answered with the 36 standard bytes).

#include <cstdio>
// clang-format off
#include <camlib.h>
// clang-format on

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "image/emulated_drive.h"

char cam_errbuf[CAM_ERRBUF_SIZE];

namespace {

struct served_drive {
    std::unique_ptr<passthrough> drive;
    union ccb* request = nullptr;  // the one CCB handed out for this device
};

std::map<const cam_device*, served_drive>& drives() {
    static std::map<const cam_device*, served_drive> open;
    return open;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

void log_line(const char* format, ...) {
    const std::string path = environment("CAM_DOUBLE_LOG");
    if (path.empty()) {
        return;
    }
    std::FILE* log = std::fopen(path.c_str(), "a");
    if (log == nullptr) {
        return;
    }
    va_list values;
    va_start(values, format);
    std::vfprintf(log, format, values);
    va_end(values);
    std::fputc('\n', log);
    std::fclose(log);
}

// The fault CAM_DOUBLE_FAULT sets for this operation code, or "".
std::string fault_for(std::uint8_t opcode) {
    const std::string fault = environment("CAM_DOUBLE_FAULT");
    const std::size_t colon = fault.find(':');
    if (colon == std::string::npos) {
        return "";
    }
    char code[3];
    std::snprintf(code, sizeof code, "%02x", opcode);
    return fault.compare(colon + 1, std::string::npos, code) == 0 ? fault.substr(0, colon) : "";
}

void set_error(const std::string& text) {
    std::snprintf(cam_errbuf, CAM_ERRBUF_SIZE, "%s", text.c_str());
}

// The peripheral name and unit of a path's last component, as libcam takes
// them: "/dev/cd0" is cd and 0; the unit must be the trailing digits.
bool split_device(const std::string& path, std::string& name, int& unit) {
    std::string last = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    if (last.empty() || std::isdigit(static_cast<unsigned char>(last[0]))) {
        set_error("cam_get_device: device names cannot start with a digit");
        return false;
    }
    std::size_t digits = last.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(last[digits - 1]))) {
        --digits;
    }
    if (digits == last.size()) {
        set_error("cam_get_device: unable to find device unit number");
        return false;
    }
    name = last.substr(0, digits);
    unit = std::atoi(last.c_str() + digits);
    return true;
}

void describe(const ccb_scsiio& csio, char* text, std::size_t size) {
    int at = std::snprintf(text, size, "flags 0x%05x retries %u timeout %u length %u sense %u cdb",
                           csio.ccb_h.flags, csio.ccb_h.retry_count, csio.ccb_h.timeout,
                           csio.dxfer_len, csio.sense_len);
    for (int i = 0; i < csio.cdb_len && at > 0 && static_cast<std::size_t>(at) < size; ++i) {
        at += std::snprintf(text + at, size - at, " %02x", csio.cdb_io.cdb_bytes[i]);
    }
}

data_direction direction_of(std::uint32_t flags) {
    switch (flags & CAM_DIR_MASK) {
        case CAM_DIR_IN:
            return data_direction::in;
        case CAM_DIR_OUT:
            return data_direction::out;
        default:
            return data_direction::none;
    }
}

// What pass(4) would refuse before the drive sees anything.
bool well_formed(const ccb_scsiio& csio) {
    const data_direction direction = direction_of(csio.ccb_h.flags);
    const bool has_data = csio.data_ptr != nullptr && csio.dxfer_len > 0;
    return csio.ccb_h.func_code == XPT_SCSI_IO && csio.cdb_len > 0 &&
           csio.cdb_len <= CAM_MAX_CDBLEN && (csio.ccb_h.flags & CAM_DIR_MASK) != CAM_DIR_BOTH &&
           (direction == data_direction::none) != has_data;
}

void answer_from_drive(served_drive& open, ccb_scsiio& csio) {
    scsi_request request;
    request.cdb = {csio.cdb_io.cdb_bytes, csio.cdb_len};
    request.direction = direction_of(csio.ccb_h.flags);
    request.data = {csio.data_ptr, csio.dxfer_len};
    request.timeout_ms = static_cast<int>(csio.ccb_h.timeout);
    request.retries = static_cast<int>(csio.ccb_h.retry_count);
    const scsi_outcome outcome = open.drive->send(request);
    csio.resid = 0;
    switch (outcome.what) {
        case scsi_outcome::kind::completed:
            csio.ccb_h.status = CAM_REQ_CMP;
            return;
        case scsi_outcome::kind::status_error: {
            csio.ccb_h.status = CAM_SCSI_STATUS_ERROR | CAM_AUTOSNS_VALID;
            csio.scsi_status = static_cast<u_int8_t>(outcome.status);
            const std::size_t n = std::min<std::size_t>(outcome.sense_length, csio.sense_len);
            std::memcpy(&csio.sense_data, outcome.sense.data(), n);
            csio.sense_resid = static_cast<u_int8_t>(csio.sense_len - n);
            csio.resid = csio.dxfer_len;
            return;
        }
        case scsi_outcome::kind::not_sent:
        case scsi_outcome::kind::failed:
            break;
    }
    csio.ccb_h.status = CAM_REQ_CMP_ERR;
}

}  // namespace

extern "C" {

cam_device* cam_open_device(const char* path, int flags) {
    log_line("cam_open_device %s flags %d", path, flags);
    std::string name;
    int unit = 0;
    if (!split_device(path, name, unit)) {
        return nullptr;
    }
    const std::string disc = environment("CAM_DOUBLE_DISC");
    if (name != "cd" || unit != 0 || disc.empty()) {
        set_error("cam_lookup_pass: no pass unit for " + name + std::to_string(unit) +
                  ": the pass driver is not in the kernel, or " + name + std::to_string(unit) +
                  " does not exist");
        return nullptr;
    }
    passthrough_open_result opened = open_emulated_drive(disc);
    if (opened.device == nullptr) {
        set_error("cam_real_open_device: " + opened.error);
        return nullptr;
    }
    auto* device = new cam_device{};
    std::snprintf(device->device_path, sizeof device->device_path, "%s", path);
    std::snprintf(device->given_dev_name, sizeof device->given_dev_name, "%s", name.c_str());
    device->given_unit_number = static_cast<u_int32_t>(unit);
    drives()[device].drive = std::move(opened.device);
    return device;
}

void cam_close_device(cam_device* device) {
    log_line("cam_close_device");
    drives().erase(device);
    delete device;
}

// Only the header is cleared, as libcam does; the rest holds garbage, so
// that a request that relies on zeros it did not write is caught.
union ccb* cam_getccb(cam_device* device) {
    if (environment("CAM_DOUBLE_FAULT") == "no-ccb") {
        return nullptr;
    }
    auto* request = static_cast<union ccb*>(std::malloc(sizeof(union ccb)));
    if (request == nullptr) {
        return nullptr;
    }
    std::memset(request, 0xa5, sizeof(union ccb));
    std::memset(&request->ccb_h, 0, sizeof request->ccb_h);
    request->ccb_h.path_id = 1;
    drives().at(device).request = request;
    return request;
}

void cam_freeccb(union ccb* request) {
    log_line("cam_freeccb");
    std::free(request);
}

int csio_build(ccb_scsiio* csio, u_int8_t* data_ptr, u_int32_t dxfer_len, u_int32_t flags,
               int retry_count, int timeout, const char* cmd_spec, ...) {
    std::memset(csio, 0, sizeof *csio);
    va_list values;
    va_start(values, cmd_spec);
    int length = 0;
    for (const char* at = cmd_spec; *at != '\0';) {
        if (std::isspace(static_cast<unsigned char>(*at))) {
            ++at;
            continue;
        }
        if (length == CAM_MAX_CDBLEN) {
            va_end(values);
            return -1;
        }
        char* end = nullptr;
        long value = 0;
        if (*at == 'v') {
            value = va_arg(values, int);
            end = const_cast<char*>(at + 1);
        } else {
            value = std::strtol(at, &end, 16);
        }
        if (end == at || (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end)))) {
            va_end(values);
            return -1;
        }
        csio->cdb_io.cdb_bytes[length++] = static_cast<u_int8_t>(value);
        at = end;
    }
    va_end(values);
    csio->cdb_len = static_cast<u_int8_t>(length);
    csio->ccb_h.func_code = XPT_SCSI_IO;
    csio->ccb_h.flags = flags;
    csio->ccb_h.retry_count = static_cast<u_int32_t>(retry_count);
    csio->ccb_h.timeout = timeout == 0 ? 5000 : static_cast<u_int32_t>(timeout);
    csio->data_ptr = data_ptr;
    csio->dxfer_len = dxfer_len;
    csio->sense_len = SSD_FULL_SIZE;
    csio->tag_action = MSG_SIMPLE_Q_TAG;
    return 0;
}

int cam_send_ccb(cam_device* device, union ccb* request) {
    auto found = drives().find(device);
    if (found == drives().end() || found->second.request != request) {
        errno = EINVAL;
        return -1;
    }
    ccb_scsiio& csio = request->csio;
    char text[256];
    describe(csio, text, sizeof text);
    log_line("cam_send_ccb %s", text);
    const std::string fault = fault_for(csio.cdb_io.cdb_bytes[0]);
    if (fault == "not-sent") {
        errno = ENXIO;
        return -1;
    }
    if (!well_formed(csio)) {
        csio.ccb_h.status = CAM_REQ_INVALID;
        return 0;
    }
    if (fault == "timeout") {
        // A flag bit above the mask too: the status word is more than its code.
        csio.ccb_h.status = CAM_CMD_TIMEOUT | CAM_DEV_QFRZN;
        return 0;
    }
    answer_from_drive(found->second, csio);
    if (fault == "short" && csio.ccb_h.status == CAM_REQ_CMP) {
        csio.resid = std::min<u_int32_t>(csio.dxfer_len, 28);
    }
    return 0;
}

// Not CAM's decoded form: enough to show which request's sense this is.
void scsi_sense_print(cam_device* device, ccb_scsiio* csio, FILE* ofile) {
    auto found = drives().find(device);
    if (found == drives().end() || &found->second.request->csio != csio) {
        std::fputs("(cam double) sense of an unknown request\n", ofile);
        return;
    }
    const int valid = csio->sense_len - csio->sense_resid;
    const std::uint8_t* sense = &csio->sense_data.error_code;
    std::fprintf(ofile,
                 "(%s%u:cam double) SCSI status 0x%02x, %d sense bytes: key 0x%x asc 0x%02x "
                 "ascq 0x%02x\n",
                 device->given_dev_name, device->given_unit_number, csio->scsi_status, valid,
                 sense[2] & 0x0f, sense[12], sense[13]);
}

}  // extern "C"
