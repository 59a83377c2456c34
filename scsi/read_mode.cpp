#include "scsi/read_mode.h"

#include <cstring>

#include "scsi/passthrough/sense.h"
#include "scsi/sense_text.h"

namespace {

constexpr std::uint8_t block_descriptor_bytes = 8;
constexpr std::uint8_t read12_vendor_opcode = 0xd8;
constexpr std::uint8_t read_cd_opcode = 0xbe;

constexpr std::uint8_t asc_invalid_opcode = 0x20;
constexpr std::uint8_t asc_invalid_field_in_cdb = 0x24;
constexpr std::uint8_t asc_invalid_field_in_parameters = 0x26;

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

// ILLEGAL REQUEST with one of the codes; anything else is a real failure.
bool illegal_request_with(const scsi_outcome& outcome, std::initializer_list<std::uint8_t> codes) {
    if (outcome.what != scsi_outcome::kind::status_error) {
        return false;
    }
    const sense_summary sense = decode_sense({outcome.sense.data(), outcome.sense_length});
    if (sense.key != sense_key_illegal_request) {
        return false;
    }
    for (std::uint8_t asc : codes) {
        if (sense.asc == asc) {
            return true;
        }
    }
    return false;
}

bool unknown_command(const scsi_outcome& outcome) {
    return illegal_request_with(outcome, {asc_invalid_opcode});
}

// The drive knows the command but not the block descriptor in it.
bool block_descriptor_refused(const scsi_outcome& outcome) {
    return illegal_request_with(outcome,
                                {asc_invalid_field_in_cdb, asc_invalid_field_in_parameters});
}

scsi_outcome send_mode_select(scsi_device& device, bool ten_byte_form, std::uint8_t density,
                              std::uint32_t block_length) {
    std::uint8_t* list = device.transfer_buffer.data();
    if (ten_byte_form) {
        build_mode_select10_list(list, density, block_length);
        return scsi_try(device, mode_select10_cdb(), mode_select10_list_bytes, data_direction::out);
    }
    build_mode_select_list(list, density, block_length);
    return scsi_try(device, mode_select6_cdb(), mode_select_list_bytes, data_direction::out);
}

bool is_data_default(std::uint8_t density, std::uint32_t block_length) {
    return density == default_density && block_length == data_block_length;
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

void build_mode_select10_list(std::uint8_t* list, std::uint8_t density,
                              std::uint32_t block_length) {
    std::memset(list, 0, mode_select10_list_bytes);
    list[7] = block_descriptor_bytes;
    list[8] = density;
    list[13] = static_cast<std::uint8_t>(block_length >> 16);
    list[14] = static_cast<std::uint8_t>(block_length >> 8);
    list[15] = static_cast<std::uint8_t>(block_length);
}

bool select_block_format(scsi_device& device, read_mode_state& state, std::uint8_t density,
                         std::uint32_t block_length, block_format_need need) {
    mode_select_support& support = state.support;
    const bool required = need == block_format_need::required;
    if (support.fixed_block_length && !required) {
        return false;
    }
    cdb_bytes sent = support.ten_byte_form ? mode_select10_cdb() : mode_select6_cdb();
    scsi_outcome outcome = send_mode_select(device, support.ten_byte_form, density, block_length);
    if (!support.ten_byte_form && unknown_command(outcome)) {
        support.ten_byte_form = true;
        sent = mode_select10_cdb();
        outcome = send_mode_select(device, true, density, block_length);
        if (unknown_command(outcome)) {
            support.fixed_block_length = true;  // no mode command at all
        }
    }
    if (block_descriptor_refused(outcome)) {
        support.fixed_block_length = true;
    }
    if (outcome.what == scsi_outcome::kind::completed) {
        state.away_from_defaults = !is_data_default(density, block_length);
        return true;
    }
    if (support.fixed_block_length && !required) {
        return false;
    }
    scsi_fail(device, sent, outcome, message_kind::generic);
}

void restore_data_mode(scsi_device& device, read_mode_state& state) {
    select_block_format(device, state, default_density, data_block_length);
}

void restore_data_mode_quietly(scsi_device& device, read_mode_state& state) {
    if (!state.away_from_defaults || device.device == nullptr) {
        return;
    }
    const scsi_outcome outcome =
        send_mode_select(device, state.support.ten_byte_form, default_density, data_block_length);
    if (outcome.what == scsi_outcome::kind::completed) {
        state.away_from_defaults = false;
    }
}

void set_read_mode(scsi_device& device, read_mode_state& state, const read_mode_inputs& inputs,
                   int mode) {
    if (mode == state.last_mode) {
        return;
    }
    state.last_mode = mode;
    const mode_settings wanted = settings_for(mode, inputs.entry);
    state.read_opcode = wanted.read_opcode;
    state.raw_read_cd = false;
    // The entry undoes the drive's own byte order; the format then asks for
    // big-endian samples or not.
    state.swap_samples = wanted.swap != inputs.big_endian_output;
    if (wanted.density_change) {
        // The entry says the drive needs its density changed for audio; a
        // drive that keeps 2048-byte blocks cannot give raw data sectors
        // through READ(10) and gets READ CD for them instead.
        const block_format_need need =
            mode == audio_mode ? block_format_need::required : block_format_need::optional;
        if (select_block_format(device, state, wanted.density, audio_block_length, need)) {
            state.switched = true;
        } else {
            state.raw_read_cd = true;
        }
    } else if (state.switched) {
        restore_data_mode(device, state);
        state.switched = false;
    }
}

cdb_bytes audio_read_cdb(std::uint8_t opcode, std::uint32_t sector, int count) {
    if (opcode == read_cd_opcode) {
        return read_cd_cdb(sector, count);
    }
    if (opcode == read12_vendor_opcode) {
        return read12_d8_cdb(sector, count);
    }
    return read10_cdb(opcode, sector, count);
}

cdb_bytes chunk_read_cdb(const read_mode_state& state, std::uint32_t sector, int count) {
    if (state.raw_read_cd) {
        return read_cd_raw_cdb(sector, count);
    }
    return audio_read_cdb(state.read_opcode, sector, count);
}
