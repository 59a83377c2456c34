#include "scsi/channel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/exit.h"
#include "common/interrupt.h"
#include "common/program_name.h"
#include "scsi/sense_text.h"

namespace {

constexpr int command_timeout_ms = 10000;
constexpr int command_retries = 3;

struct kind_texts {
    const char* send_failure;
    const char* status_header;
};

kind_texts texts_of(message_kind kind) {
    switch (kind) {
        case message_kind::cdrom_read:
            return {"error sending CD-ROM read command",
                    "error returned from CD-ROM read command:\n"};
        case message_kind::cdda_read:
            return {"error sending CD-DA read command",
                    "error returned from CD-DA read command:\n"};
        case message_kind::generic:
            break;
    }
    return {"error sending SCSI command", "error returned from SCSI command:\n"};
}

cdb_bytes make_cdb(std::initializer_list<std::uint8_t> bytes) {
    cdb_bytes cdb;
    for (std::uint8_t b : bytes) {
        cdb.bytes[cdb.length++] = b;
    }
    return cdb;
}

// The full 32-bit address, so that an address beyond 24 bits cannot wrap
// into a different sector; for every address a CD has, byte 2 stays zero.
void put_address(cdb_bytes& cdb, std::uint32_t lba) {
    cdb.bytes[2] = static_cast<std::uint8_t>(lba >> 24);
    cdb.bytes[3] = static_cast<std::uint8_t>(lba >> 16);
    cdb.bytes[4] = static_cast<std::uint8_t>(lba >> 8);
    cdb.bytes[5] = static_cast<std::uint8_t>(lba);
}

std::uint32_t sector_count(int count) {
    return count < 0 ? 0 : static_cast<std::uint32_t>(count);
}

const char* direction_name(data_direction direction) {
    switch (direction) {
        case data_direction::in:
            return "in";
        case data_direction::out:
            return "out";
        case data_direction::none:
            break;
    }
    return "none";
}

std::string outcome_text(const scsi_outcome& outcome) {
    char text[64];
    switch (outcome.what) {
        case scsi_outcome::kind::completed:
            return "ok";
        case scsi_outcome::kind::not_sent:
            return std::string("not sent: ") + std::strerror(outcome.system_error);
        case scsi_outcome::kind::status_error: {
            const sense_summary s = decode_sense({outcome.sense.data(), outcome.sense_length});
            std::snprintf(text, sizeof text, "check condition %02x/%02x/%02x", s.key, s.asc,
                          s.ascq);
            return text;
        }
        case scsi_outcome::kind::failed:
            break;
    }
    std::snprintf(text, sizeof text, "failed %d", outcome.status);
    return text;
}

void log_command(const scsi_device& device, const scsi_request& request,
                 const scsi_outcome& outcome) {
    if (device.log == nullptr) {
        return;
    }
    std::fputs(scsi_log_line(request, outcome).c_str(), device.log);
    std::fflush(device.log);
}

bool is_vendor_opcode(std::uint8_t opcode) {
    return opcode >= 0xc0;
}

// The kernel lets only privileged callers send vendor commands; the
// system's text alone ("Operation not permitted") does not say what to do.
void explain_refused_vendor_command(const cdb_bytes& cdb, int system_error) {
    if (system_error == EPERM && cdb.length > 0 && is_vendor_opcode(cdb.bytes[0])) {
        std::fprintf(stderr,
                     "(the vendor-specific read command 0x%02x needs root privileges here; "
                     "a drive entry with readcmd 0xBE uses READ CD, which does not)\n",
                     cdb.bytes[0]);
    }
}

[[noreturn]] void fail_not_sent(scsi_device& device, const cdb_bytes& cdb, const kind_texts& texts,
                                int system_error) {
    std::fprintf(stderr, "%s: %s\n", texts.send_failure, std::strerror(system_error));
    explain_refused_vendor_command(cdb, system_error);
    scsi_close(device);
    throw exit_request{1};
}

[[noreturn]] void fail_status(scsi_device& device, const scsi_outcome& outcome,
                              const kind_texts& texts) {
    std::fputs(texts.status_header, stderr);
    if (outcome.what == scsi_outcome::kind::status_error) {
        if (device.device == nullptr || !device.device->print_sense(stderr)) {
            std::fputs(describe_sense({outcome.sense.data(), outcome.sense_length}).c_str(),
                       stderr);
        }
    } else {
        std::fprintf(stderr, "ccb->ccb_h.status == %d\n", outcome.status);
    }
    throw exit_request{1};
}

}  // namespace

std::string scsi_log_line(const scsi_request& request, const scsi_outcome& outcome) {
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict on
    // `" " + std::string` (the release build treats it as an error).
    std::string line = hex_bytes(request.cdb);
    line += " | ";
    line += direction_name(request.direction);
    line += ' ';
    line += std::to_string(request.data.size());
    if (request.direction == data_direction::out && !request.data.empty()) {
        line += ' ';
        line += hex_bytes(request.data);
    }
    line += " | ";
    line += outcome_text(outcome);
    line += '\n';
    return line;
}

scsi_device::~scsi_device() {
    if (log != nullptr) {
        std::fclose(log);
    }
}

cdb_bytes inquiry_cdb() {
    return make_cdb({0x12, 0x00, 0x00, 0x00, 0x40, 0x00});
}

cdb_bytes read_toc_cdb() {
    return make_cdb({0x43, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00});
}

cdb_bytes read_sessions_cdb() {
    return make_cdb({0x43, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x00});
}

cdb_bytes read_full_toc_cdb() {
    return make_cdb({0x43, 0x02, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00});
}

cdb_bytes mode_select6_cdb() {
    return make_cdb({0x15, 0x10, 0x00, 0x00, 0x0c, 0x00});
}

cdb_bytes mode_select10_cdb() {
    return make_cdb({0x55, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00});
}

cdb_bytes test_unit_ready_cdb() {
    return make_cdb({0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
}

cdb_bytes mode_sense6_cdb() {
    return make_cdb({0x1a, 0x00, 0x01, 0x00, 0x0c, 0x00});
}

cdb_bytes read10_cdb(std::uint8_t opcode, std::uint32_t lba, int count) {
    cdb_bytes cdb = make_cdb({opcode, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    put_address(cdb, lba);
    const std::uint32_t n = sector_count(count);
    cdb.bytes[7] = static_cast<std::uint8_t>(n >> 8);
    cdb.bytes[8] = static_cast<std::uint8_t>(n);
    return cdb;
}

cdb_bytes read12_d8_cdb(std::uint32_t lba, int count) {
    cdb_bytes cdb = make_cdb({0xd8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    put_address(cdb, lba);
    const std::uint32_t n = sector_count(count);
    cdb.bytes[6] = static_cast<std::uint8_t>(n >> 24);
    cdb.bytes[7] = static_cast<std::uint8_t>(n >> 16);
    cdb.bytes[8] = static_cast<std::uint8_t>(n >> 8);
    cdb.bytes[9] = static_cast<std::uint8_t>(n);
    return cdb;
}

cdb_bytes read_cd_cdb(std::uint32_t lba, int count) {
    constexpr std::uint8_t expected_type_cdda = 0x04;
    constexpr std::uint8_t user_data_only = 0x10;
    cdb_bytes cdb = make_cdb({0xbe, expected_type_cdda, 0, 0, 0, 0, 0, 0, 0, user_data_only, 0, 0});
    put_address(cdb, lba);
    const std::uint32_t n = sector_count(count);
    cdb.bytes[6] = static_cast<std::uint8_t>(n >> 16);
    cdb.bytes[7] = static_cast<std::uint8_t>(n >> 8);
    cdb.bytes[8] = static_cast<std::uint8_t>(n);
    return cdb;
}

cdb_bytes read_cd_raw_cdb(std::uint32_t lba, int count) {
    constexpr std::uint8_t expected_type_any = 0x00;
    constexpr std::uint8_t sync_header_user_data_edc = 0xf8;
    cdb_bytes cdb = read_cd_cdb(lba, count);
    cdb.bytes[1] = expected_type_any;
    cdb.bytes[9] = sync_header_user_data_edc;
    return cdb;
}

std::unique_ptr<scsi_device> scsi_attach(std::unique_ptr<passthrough> device) {
    auto record = std::make_unique<scsi_device>();
    record->device = std::move(device);
    const char* log_path = std::getenv("VORKA_SCSI_LOG");
    if (log_path != nullptr && *log_path != '\0') {
        record->log = std::fopen(log_path, "a");
        if (record->log == nullptr) {
            exit_with_errno(log_path);
        }
    }
    return record;
}

void scsi_command(scsi_device& device, const cdb_bytes& cdb, std::size_t length,
                  data_direction direction) {
    scsi_send(device, cdb, length, direction, message_kind::generic);
}

void scsi_send(scsi_device& device, const cdb_bytes& cdb, std::size_t length,
               data_direction direction, message_kind kind) {
    // An interrupt stops the run before the next command, never inside one.
    stop_if_interrupted();
    const scsi_outcome outcome = scsi_try(device, cdb, length, direction);
    if (outcome.what != scsi_outcome::kind::completed) {
        scsi_fail(device, cdb, outcome, kind);
    }
}

scsi_outcome scsi_try(scsi_device& device, const cdb_bytes& cdb, std::size_t length,
                      data_direction direction) {
    if (length > transfer_buffer_bytes || device.device == nullptr) {
        std::fprintf(stderr, "%s: internal error: command of %zu bytes on %s device\n",
                     program_name, length, device.device == nullptr ? "a closed" : "an open");
        throw exit_request{1};
    }
    scsi_request request;
    request.cdb = cdb.span();
    request.direction = direction;
    request.data = {device.transfer_buffer.data(), length};
    request.timeout_ms = command_timeout_ms;
    request.retries = command_retries;

    const scsi_outcome outcome = device.device->send(request);
    log_command(device, request, outcome);
    return outcome;
}

void scsi_fail(scsi_device& device, const cdb_bytes& cdb, const scsi_outcome& outcome,
               message_kind kind) {
    const kind_texts texts = texts_of(kind);
    if (outcome.what == scsi_outcome::kind::not_sent) {
        fail_not_sent(device, cdb, texts, outcome.system_error);
    }
    fail_status(device, outcome, texts);
}

void scsi_close(scsi_device& device) {
    device.device.reset();
    if (device.log != nullptr) {
        std::fclose(device.log);
        device.log = nullptr;
    }
}
