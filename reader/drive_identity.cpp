#include "reader/drive_identity.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/blanks.h"
#include "common/exit.h"
#include "common/program_name.h"

namespace {

constexpr std::size_t inquiry_bytes = 64;

struct identity_field {
    std::size_t offset;
    std::size_t length;
};
constexpr identity_field vendor_field{8, 8};
constexpr identity_field product_field{16, 16};
constexpr identity_field revision_field{32, 4};

std::string cut_field(const std::uint8_t* response, identity_field field) {
    const char* start = reinterpret_cast<const char*>(response + field.offset);
    std::vector<char> text(field.length + 1, '\0');
    std::memcpy(text.data(), start, strnlen(start, field.length));
    return squeeze_blanks(text.data());
}

[[noreturn]] void stop(const char* message, int value) {
    std::fprintf(stderr, message, program_name, value);
    throw exit_request{1};
}

}  // namespace

drive_identity identity_from_inquiry(const std::uint8_t* response) {
    return {cut_field(response, vendor_field), cut_field(response, product_field),
            cut_field(response, revision_field)};
}

drive_identity inquire_identity(scsi_device& device) {
    scsi_command(device, inquiry_cdb(), inquiry_bytes, data_direction::in);
    return identity_from_inquiry(device.transfer_buffer.data());
}

void print_device_line(const std::string& device_path, const drive_identity& identity) {
    std::fprintf(stderr, "Device: %s -- \"%s\" \"%s\" \"%s\"\n", device_path.c_str(),
                 identity.vendor.c_str(), identity.product.c_str(), identity.revision.c_str());
}

void settle_read_parameters(reader_settings& settings, const drive_entry& entry) {
    if (settings.read_size > 0) {
        std::fprintf(stderr, "%s: Warning: Overriding read size of %d sectors.\n", program_name,
                     entry.blocks);
    } else {
        settings.read_size = entry.blocks;
    }
    if (settings.overlap >= 0) {
        std::fprintf(stderr, "%s: Warning: Overriding overlap size of %d sectors.\n", program_name,
                     entry.jitter);
    }
    if (settings.read_size < 1 || settings.read_size > max_read_sectors) {
        stop("%s: Error: Number of sectors per read access must be <= %d.\n", max_read_sectors);
    }
    if (settings.overlap >= settings.read_size) {
        stop("%s: Error: Overlapping sectors must be < sectors per read access (%d).\n",
             settings.read_size);
    }
    if (settings.overlap > 0) {
        std::fprintf(stderr,
                     "%s: Error: Jitter correction is not enabled in this version of vorka.\n",
                     program_name);
        throw exit_request{1};
    }
    settle_read_offset(settings, entry);
}

void settle_read_offset(reader_settings& settings, const drive_entry& entry) {
    if (settings.read_offset_given != 0) {
        std::fprintf(stderr, "%s: Warning: Overriding read offset correction of %d samples.\n",
                     program_name, entry.offset);
    } else {
        settings.read_offset = entry.offset;
    }
    if (settings.read_offset < -max_offset_correction ||
        settings.read_offset > max_offset_correction) {
        std::fprintf(stderr,
                     "%s: Error: Read offset correction must be between %d and %d samples.\n",
                     program_name, -max_offset_correction, max_offset_correction);
        throw exit_request{1};
    }
    if (settings.read_offset != 0 && settings.quiet == 0) {
        std::fprintf(stderr, "Read offset correction: %+d samples\n", settings.read_offset);
    }
}
