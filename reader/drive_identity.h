#pragma once

#include <cstdint>
#include <string>

#include "config/drive_entry.h"
#include "reader/settings.h"
#include "scsi/channel.h"

// What the drive says it is, tidied for showing and matching.
struct drive_identity {
    std::string vendor;
    std::string product;
    std::string revision;
};

// Cuts the three texts from a 64-byte INQUIRY response: each ends at its
// field's length or at the first zero byte, and loses its outer blanks and
// all but the first blank of every inner run.
drive_identity identity_from_inquiry(const std::uint8_t* response);

// Sends INQUIRY and cuts the identity from its answer.
drive_identity inquire_identity(scsi_device& device);

// "Device: <path> -- "<vendor>" "<product>" "<revision>"".
void print_device_line(const std::string& device_path, const drive_identity& identity);

// Takes the read size from the entry unless -b gave one, warns about the
// overrides, and stops the run when the read size or the overlap cannot be
// used; then settles the read offset correction.
void settle_read_parameters(reader_settings& settings, const drive_entry& entry);

// Takes the read offset correction from the entry unless -O gave one (with
// the override warning), refuses one beyond the range, and names one that
// is not 0.
void settle_read_offset(reader_settings& settings, const drive_entry& entry);
