#pragma once

#include <cstdint>

#include "config/drive_entry.h"
#include "output/format.h"
#include "scsi/channel.h"

// The two ways of reading sectors.  The values are the ones the mode switch
// remembers in last_mode.
inline constexpr int data_mode = 0;
inline constexpr int audio_mode = 1;

inline constexpr std::uint8_t read10_opcode = 0x28;
inline constexpr std::uint32_t audio_block_length = 2352;
inline constexpr std::uint32_t data_block_length = 2048;
inline constexpr std::uint8_t default_density = 0;

// How sectors are read right now and what the last switch left on the drive.
struct read_mode_state {
    std::uint8_t read_opcode = read10_opcode;
    bool swap_samples = false;
    // Neither mode, so that the first request always acts.
    int last_mode = 42;
    // A switch has put 2352-byte blocks on the drive and not taken them back.
    bool switched = false;
};

// The 12-byte MODE SELECT(6) parameter list: a header and one block
// descriptor with the density code and the block length.
inline constexpr std::size_t mode_select_list_bytes = 12;
void build_mode_select_list(std::uint8_t* list, std::uint8_t density, std::uint32_t block_length);

// Sends MODE SELECT(6) with that density code and block length.
void select_block_format(scsi_device& device, std::uint8_t density, std::uint32_t block_length);

// Density code 0 and 2048-byte blocks, the defaults for reading data.
void restore_data_mode(scsi_device& device);

// What the read mode depends on besides the drive: the matched entry and the
// output format in force.
struct read_mode_inputs {
    const drive_entry& entry;
    const format_entry& format;
};

// Switches to audio_mode or data_mode, sending MODE SELECT only when the
// drive's block format has to change.
void set_read_mode(scsi_device& device, read_mode_state& state, const read_mode_inputs& inputs,
                   int mode);
