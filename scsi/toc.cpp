#include "scsi/toc.h"

#include "scsi/read_mode.h"

namespace {

constexpr std::uint8_t data_track_bit = 0x04;
constexpr std::uint8_t sector_mode_bits = 0x03;
constexpr std::uint8_t mode2 = 2;
constexpr std::size_t toc_header_bytes = 4;
constexpr std::size_t toc_descriptor_bytes = 8;
constexpr std::size_t toc_response_bytes = 2048;
constexpr std::size_t sector_header_mode_byte = 15;
constexpr std::size_t session_response_bytes = 12;
constexpr std::int64_t msf_lead_in_offset = 150;

std::uint32_t big_endian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// Entries in the response, lead-out included: at least one is always taken,
// at most the table's 101.
int entry_count(const std::uint8_t* response) {
    const int length = response[0] << 8 | response[1];
    const int entries = (length - 2) / static_cast<int>(toc_descriptor_bytes);
    if (entries < 1) {
        return 1;
    }
    return entries > max_disc_tracks + 1 ? max_disc_tracks + 1 : entries;
}

bool is_data_type(std::uint8_t type) {
    return (type & data_track_bit) != 0;
}

// What the probe takes for a data track whose first sector cannot be read:
// Mode 1, a data track like any other, so that the listing shows it and a
// run that reads it meets the drive's error there.
constexpr std::uint8_t unprobed_sector_mode = 1;

void probe_data_tracks(scsi_device& device, read_mode_state& state, track_table& table) {
    bool raw_blocks = false;
    bool read_cd = false;
    for (int i = 0; i < table.track_count; ++i) {
        if (!is_data_type(table.track_type[i])) {
            continue;
        }
        if (!raw_blocks) {
            // A drive that keeps 2048-byte blocks gives the raw sector
            // through READ CD instead.
            read_cd = !select_block_format(device, state, default_density, audio_block_length);
            raw_blocks = true;
        }
        const auto start = static_cast<std::uint32_t>(table.track_start[i]);
        const std::optional<std::uint8_t> mode = read_sector_mode(device, start, read_cd);
        table.track_type[i] = mode.value_or(unprobed_sector_mode) | data_track_bit;
    }
}

}  // namespace

void parse_track_table(const std::uint8_t* response, track_table& table) {
    const int entries = entry_count(response);
    table.track_count = entries - 1;
    for (int i = 0; i < entries; ++i) {
        const std::uint8_t* descriptor = response + toc_header_bytes + toc_descriptor_bytes * i;
        table.track_type[i] = descriptor[1];
        table.track_start[i] = static_cast<std::int32_t>(big_endian32(descriptor + 4));
    }
}

namespace {

// The first data track of a disc in the shape of an enhanced CD: audio
// tracks from the first on, then only data tracks.  None on any other disc.
std::optional<int> data_track_after_audio(const track_table& table) {
    int data = 0;
    while (data < table.track_count && !is_data_type(table.track_type[data])) {
        ++data;
    }
    if (data == 0 || data == table.track_count) {
        return std::nullopt;
    }
    for (int i = data; i < table.track_count; ++i) {
        if (!is_data_type(table.track_type[i])) {
            return std::nullopt;
        }
    }
    return data;
}

// Point A2 of the lowest session in a full TOC answer, as a sector address.
std::optional<std::int64_t> first_session_leadout(const std::uint8_t* response,
                                                  std::size_t length) {
    constexpr std::size_t header = 4, descriptor = 11;
    constexpr std::uint8_t adr_position = 1, point_leadout = 0xa2;
    const std::size_t answered = 2 + static_cast<std::size_t>(response[0] << 8 | response[1]);
    const std::size_t end = std::min(answered, length);
    for (std::size_t at = header; at + descriptor <= end; at += descriptor) {
        const std::uint8_t* d = response + at;
        if (d[0] == response[2] && (d[1] >> 4) == adr_position && d[3] == point_leadout) {
            return (std::int64_t{d[8]} * 60 + d[9]) * 75 + d[10] - msf_lead_in_offset;
        }
    }
    return std::nullopt;
}

}  // namespace

void read_audio_session_end(scsi_device& device, track_table& table) {
    const std::optional<int> data = data_track_after_audio(table);
    if (!data) {
        return;
    }
    const std::int64_t last_audio_start = table.track_start[*data - 1];
    const std::int64_t data_start = table.track_start[*data];
    if (data_start - last_audio_start <= session_gap_sectors) {
        return;  // no room for a session between them: one session
    }
    std::optional<std::int64_t> end;
    const scsi_outcome sessions =
        scsi_try(device, read_sessions_cdb(), session_response_bytes, data_direction::in);
    if (sessions.what == scsi_outcome::kind::completed) {
        if (device.transfer_buffer[3] <= device.transfer_buffer[2]) {
            return;  // one session: the tracks run on to the data track
        }
        const scsi_outcome full =
            scsi_try(device, read_full_toc_cdb(), toc_response_bytes, data_direction::in);
        if (full.what == scsi_outcome::kind::completed) {
            end = first_session_leadout(device.transfer_buffer.data(), toc_response_bytes);
        } else if (full.what != scsi_outcome::kind::status_error) {
            scsi_fail(device, read_full_toc_cdb(), full, message_kind::generic);
        }
    } else if (sessions.what != scsi_outcome::kind::status_error) {
        scsi_fail(device, read_sessions_cdb(), sessions, message_kind::generic);
    }
    // A lead-out the drive did not give, or one that no track could end
    // at: the audio session ends where enhanced CDs end it.
    if (!end || *end <= last_audio_start || *end > data_start) {
        end = data_start - session_gap_sectors;
    }
    table.audio_session_end = *end;
}

void load_track_table(scsi_device& device, read_mode_state& state, track_table& table) {
    restore_data_mode(device, state);
    scsi_command(device, read_toc_cdb(), toc_response_bytes, data_direction::in);
    // The commands below reuse the buffer, so the whole table is copied out first.
    parse_track_table(device.transfer_buffer.data(), table);
    read_audio_session_end(device, table);
    probe_data_tracks(device, state, table);
    restore_data_mode(device, state);
}

std::optional<std::uint8_t> read_sector_mode(scsi_device& device, std::uint32_t sector,
                                             bool read_cd) {
    const cdb_bytes cdb =
        read_cd ? read_cd_raw_cdb(sector, 1) : read10_cdb(read10_opcode, sector, 1);
    const scsi_outcome outcome = scsi_try(device, cdb, sector_bytes, data_direction::in);
    if (outcome.what == scsi_outcome::kind::status_error) {
        return std::nullopt;
    }
    if (outcome.what != scsi_outcome::kind::completed) {
        scsi_fail(device, cdb, outcome, message_kind::cdrom_read);
    }
    return device.transfer_buffer[sector_header_mode_byte];
}

std::int64_t track_end(const track_table& table, int index) {
    const std::int64_t next = table.track_start[index + 1];
    const std::int64_t session_end = table.audio_session_end;
    if (session_end >= 0 && !is_data_type(table.track_type[index]) &&
        table.track_start[index] < session_end && next > session_end) {
        return session_end;
    }
    return next;
}

int track_kind(const track_table& table, int index) {
    const std::uint8_t type = table.track_type[index];
    if (!is_data_type(type)) {
        return track_kind_audio;
    }
    return (type & sector_mode_bits) == mode2 ? track_kind_video : track_kind_data;
}

sector_span audio_area(const track_table& table, std::int64_t sector) {
    const int count = table.track_count;
    int track = 0;
    while (track < count &&
           !(table.track_start[track] <= sector && sector < track_end(table, track))) {
        ++track;
    }
    if (track == count) {
        return {0, table.track_start[count]};
    }
    const auto joins = [&table](int before, int after) {
        return !is_data_type(table.track_type[before]) && !is_data_type(table.track_type[after]) &&
               track_end(table, before) == table.track_start[after];
    };
    int first = track;
    while (first > 0 && joins(first - 1, first)) {
        --first;
    }
    int last = track;
    while (last + 1 < count && joins(last, last + 1)) {
        ++last;
    }
    return {first == 0 ? 0 : table.track_start[first], track_end(table, last)};
}

int track_kind_at(const track_table& table, std::int64_t sector) {
    if (table.track_count == 0) {
        return track_kind(table, 0);
    }
    // Unsigned, as the drive's addresses are: a negative start sorts last.
    const auto at = static_cast<std::uint64_t>(sector);
    for (int i = 0; i < table.track_count; ++i) {
        const auto start = static_cast<std::uint64_t>(table.track_start[i]);
        const auto end = static_cast<std::uint64_t>(table.track_start[i + 1]);
        if (start <= at && at < end) {
            return track_kind(table, i);
        }
    }
    if (at < static_cast<std::uint64_t>(table.track_start[1])) {
        return track_kind(table, 0);
    }
    return track_kind(table, table.track_count - 1);
}
