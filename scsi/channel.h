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
cdb_bytes inquiry_cdb();        // 12 00 00 00 40 00
cdb_bytes read_toc_cdb();       // 43 00 00 00 00 00 01 08 00 00
cdb_bytes read_sessions_cdb();  // 43 00 01 00 00 00 00 00 0c 00: format 1, the sessions
cdb_bytes read_full_toc_cdb();  // 43 02 02 00 00 00 01 08 00 00: format 2 from session 1
cdb_bytes mode_select6_cdb();   // 15 10 00 00 0c 00
cdb_bytes mode_select10_cdb();  // 55 10 00 00 00 00 00 00 10 00, for drives without the 6-byte form
cdb_bytes read10_cdb(std::uint8_t opcode, std::uint32_t lba, int count);  // op 00 lba(4) 00 00 n 00
cdb_bytes read12_d8_cdb(std::uint32_t lba, int count);  // d8 00 lba(4) 00 00 00 n 00 00
cdb_bytes read_cd_cdb(std::uint32_t lba, int count);    // be 04 lba(4) n(3) 10 00 00
// READ CD of any sector type with sync, header, user data and EDC/ECC: the
// 2352 raw bytes, from a drive that keeps 2048-byte blocks.
cdb_bytes read_cd_raw_cdb(std::uint32_t lba, int count);  // be 00 lba(4) n(3) f8 00 00

// Also sent, outside the catalogue, by tools and tests.
cdb_bytes test_unit_ready_cdb();  // 00 00 00 00 00 00
cdb_bytes mode_sense6_cdb();      // 1a 00 01 00 0c 00

// The device record around an open pass-through (drive/open_drive opens
// one by its path; tests hand in a scripted fake here).  Opens the VORKA_SCSI_LOG file
// when that variable is set; a log that cannot be opened ends the run.
std::unique_ptr<scsi_device> scsi_attach(std::unique_ptr<passthrough> device);

// The generic command (INQUIRY, READ TOC, MODE SELECT).
void scsi_command(scsi_device& device, const cdb_bytes& cdb, std::size_t length,
                  data_direction direction);

// Sends a command with data through transfer_buffer and returns only when it
// completed; every failure prints the kind's messages and ends the run.
void scsi_send(scsi_device& device, const cdb_bytes& cdb, std::size_t length,
               data_direction direction, message_kind kind);

// Sends a command and returns its outcome without printing anything, for
// commands whose failure the caller handles: an attempt that has another
// way to go, or the last restore of a run that is ending anyway.  The
// command is logged as every other.
scsi_outcome scsi_try(scsi_device& device, const cdb_bytes& cdb, std::size_t length,
                      data_direction direction);

// Prints the kind's messages for an outcome other than completed and ends
// the run, as scsi_send does.
[[noreturn]] void scsi_fail(scsi_device& device, const cdb_bytes& cdb, const scsi_outcome& outcome,
                            message_kind kind);

void scsi_close(scsi_device& device);

// One line of the VORKA_SCSI_LOG file: "<cdb> | <direction> <length>[ <bytes out>] | <outcome>\n".
std::string scsi_log_line(const scsi_request& request, const scsi_outcome& outcome);
