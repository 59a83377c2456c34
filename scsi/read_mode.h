#pragma once

#include <cstdint>

#include "config/drive_entry.h"
#include "scsi/channel.h"

// The two ways of reading sectors.  The values are the ones the mode switch
// remembers in last_mode.
inline constexpr int data_mode = 0;
inline constexpr int audio_mode = 1;

inline constexpr std::uint8_t read10_opcode = 0x28;
inline constexpr std::uint32_t audio_block_length = 2352;
inline constexpr std::uint32_t data_block_length = 2048;
inline constexpr std::uint8_t default_density = 0;

// What the drive has shown about its mode commands, learned from its
// refusals and kept for the rest of the run.
struct mode_select_support {
    // The drive knows no MODE SELECT(6) (ATAPI drives): send MODE SELECT(10).
    bool ten_byte_form = false;
    // The drive refuses a block descriptor in the form it knows: it stays at
    // density 0 with 2048-byte blocks, whatever is asked.
    bool fixed_block_length = false;
};

// How sectors are read right now and what the last switch left on the drive.
struct read_mode_state {
    std::uint8_t read_opcode = read10_opcode;
    bool swap_samples = false;
    // Neither mode, so that the first request always acts.
    int last_mode = 42;
    // A switch has put 2352-byte blocks on the drive and not taken them back.
    bool switched = false;
    // Data mode on a drive with a fixed block length: sectors are read raw
    // with READ CD instead of READ(10) from 2352-byte blocks.
    bool raw_read_cd = false;
    mode_select_support support;
    // The last mode change the drive accepted left something other than the
    // data defaults on it.
    bool away_from_defaults = false;
};

// The 12-byte MODE SELECT(6) parameter list: a header and one block
// descriptor with the density code and the block length.
inline constexpr std::size_t mode_select_list_bytes = 12;
void build_mode_select_list(std::uint8_t* list, std::uint8_t density, std::uint32_t block_length);

// The 16-byte MODE SELECT(10) parameter list: the 8-byte header, whose
// bytes 6 and 7 give the block descriptor's length, and the same descriptor.
inline constexpr std::size_t mode_select10_list_bytes = 16;
void build_mode_select10_list(std::uint8_t* list, std::uint8_t density, std::uint32_t block_length);

// Whether a change that the drive cannot make ends the run or leaves the
// drive at its defaults for the caller to work around.
enum class block_format_need { required, optional };

// Sends MODE SELECT with that density code and block length: the 6-byte
// form, or the 10-byte form on a drive that knows only that one.  Returns
// true when the drive took it; false when the drive cannot change its block
// length and the change was optional.  Every other failure ends the run.
bool select_block_format(scsi_device& device, read_mode_state& state, std::uint8_t density,
                         std::uint32_t block_length,
                         block_format_need need = block_format_need::optional);

// Density code 0 and 2048-byte blocks, the defaults for reading data; on a
// drive with a fixed block length there is nothing to restore.
void restore_data_mode(scsi_device& device, read_mode_state& state);

// The last restore of a run that ends early after switching the drive:
// sent only when the drive is away from its defaults, printing nothing.
void restore_data_mode_quietly(scsi_device& device, read_mode_state& state);

// What the read mode depends on besides the drive: the matched entry and
// whether the output format in force wants big-endian samples.
struct read_mode_inputs {
    const drive_entry& entry;
    bool big_endian_output;
};

// Switches to audio_mode or data_mode, sending MODE SELECT only when the
// drive's block format has to change.
void set_read_mode(scsi_device& device, read_mode_state& state, const read_mode_inputs& inputs,
                   int mode);

// The read for one chunk by opcode: READ CD for 0xbe, the 12-byte vendor
// read for 0xd8, and the 10-byte form with that opcode for anything else.
cdb_bytes audio_read_cdb(std::uint8_t opcode, std::uint32_t sector, int count);

// The read of one chunk in the mode in force: audio_read_cdb with the opcode
// in force, or the raw READ CD on a drive that keeps 2048-byte blocks.
cdb_bytes chunk_read_cdb(const read_mode_state& state, std::uint32_t sector, int count);
