#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "scsi/passthrough/passthrough.h"

inline constexpr std::size_t sector_bytes = 2352;
inline constexpr int max_read_sectors = 26;
inline constexpr std::size_t transfer_buffer_bytes = max_read_sectors * sector_bytes;  // 61152

// Which texts a failed command prints.
enum class message_kind { generic, cdrom_read, cdda_read };

// The open drive.  Every command's data lands in or leaves from its one
// transfer_buffer, from byte 0; the contents are valid until the next
// command.
struct scsi_device {
    std::unique_ptr<passthrough> device;
    std::array<std::uint8_t, transfer_buffer_bytes> transfer_buffer{};
    std::FILE* log = nullptr;  // VORKA_SCSI_LOG, when set

    scsi_device() = default;
    scsi_device(const scsi_device&) = delete;
    scsi_device& operator=(const scsi_device&) = delete;
    ~scsi_device();  // closes the log if scsi_close has not
};

// A CDB of 6, 10 or 12 bytes.
struct cdb_bytes {
    std::array<std::uint8_t, 12> bytes{};
    std::size_t length = 0;
    std::span<const std::uint8_t> span() const { return {bytes.data(), length}; }
};

// The command catalogue.
cdb_bytes inquiry_cdb();       // 12 00 00 00 40 00
cdb_bytes read_toc_cdb();      // 43 00 00 00 00 00 01 08 00 00
cdb_bytes mode_select6_cdb();  // 15 10 00 00 0c 00
cdb_bytes read10_cdb(std::uint8_t opcode, std::uint32_t lba, int count);  // op 00 lba(4) 00 00 n 00
cdb_bytes read12_d8_cdb(std::uint32_t lba, int count);  // d8 00 lba(4) 00 00 00 n 00 00
cdb_bytes read_cd_cdb(std::uint32_t lba, int count);    // be 04 lba(4) n(3) 10 00 00

// Also sent, outside the catalogue, by tools and tests.
cdb_bytes test_unit_ready_cdb();  // 00 00 00 00 00 00
cdb_bytes mode_sense6_cdb();      // 1a 00 01 00 0c 00

// Opens the drive (or image) named by the path; on failure prints the
// message and ends the run with status 1.
std::unique_ptr<scsi_device> scsi_open(const std::string& path);

// The device record around an already open pass-through (scsi_open's second
// half; tests hand in a scripted fake here).  Opens the VORKA_SCSI_LOG file
// when that variable is set; a log that cannot be opened ends the run.
std::unique_ptr<scsi_device> scsi_attach(std::unique_ptr<passthrough> device);

// The generic command (INQUIRY, READ TOC, MODE SELECT).
void scsi_command(scsi_device& device, const cdb_bytes& cdb, std::size_t length,
                  data_direction direction);

// Sends a command with data through transfer_buffer and returns only when it
// completed; every failure prints the kind's messages and ends the run.
void scsi_send(scsi_device& device, const cdb_bytes& cdb, std::size_t length,
               data_direction direction, message_kind kind);

void scsi_close(scsi_device& device);

// One line of the VORKA_SCSI_LOG file: "<cdb> | <direction> <length>[ <bytes out>] | <outcome>\n".
std::string scsi_log_line(const scsi_request& request, const scsi_outcome& outcome);
