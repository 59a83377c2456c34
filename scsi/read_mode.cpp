#include "scsi/read_mode.h"

#include <cstring>

namespace {

constexpr std::uint8_t block_descriptor_bytes = 8;

struct mode_settings {
    std::uint8_t read_opcode;
    bool density_change;
    std::uint8_t density;
    bool swap;
};

mode_settings settings_for(int mode, const drive_entry& entry) {
    if (mode == audio_mode) {
        return {entry.readcmd, entry.mdchng, entry.density, entry.swap_bytes};
    }
    // Data is always read with READ(10) from 2352-byte blocks, so that raw
    // sectors come back whole.
    return {read10_opcode, true, default_density, false};
}

}  // namespace

void build_mode_select_list(std::uint8_t* list, std::uint8_t density, std::uint32_t block_length) {
    std::memset(list, 0, mode_select_list_bytes);
    list[3] = block_descriptor_bytes;
    list[4] = density;
    list[9] = static_cast<std::uint8_t>(block_length >> 16);
    list[10] = static_cast<std::uint8_t>(block_length >> 8);
    list[11] = static_cast<std::uint8_t>(block_length);
}

void select_block_format(scsi_device& device, std::uint8_t density, std::uint32_t block_length) {
    build_mode_select_list(device.transfer_buffer.data(), density, block_length);
    scsi_command(device, mode_select6_cdb(), mode_select_list_bytes, data_direction::out);
}

void restore_data_mode(scsi_device& device) {
    select_block_format(device, default_density, data_block_length);
}

void set_read_mode(scsi_device& device, read_mode_state& state, const read_mode_inputs& inputs,
                   int mode) {
    if (mode == state.last_mode) {
        return;
    }
    state.last_mode = mode;
    const mode_settings wanted = settings_for(mode, inputs.entry);
    state.read_opcode = wanted.read_opcode;
    // The entry undoes the drive's own byte order; the format then asks for
    // big-endian samples or not.
    state.swap_samples = wanted.swap != (inputs.format.byte_swap == 1);
    if (wanted.density_change) {
        select_block_format(device, wanted.density, audio_block_length);
        state.switched = true;
    } else if (state.switched) {
        restore_data_mode(device);
        state.switched = false;
    }
}
