#include "image/emulated_drive.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "image/drive_answer.h"
#include "image/read_cd_fields.h"
#include "image/subchannel.h"
#include "scsi/passthrough/sense.h"
#include "scsi/passthrough/sg_io_answer.h"

using namespace drive_answer;

namespace {

enum opcode : std::uint8_t {
    op_test_unit_ready = 0x00,
    op_inquiry = 0x12,
    op_mode_select6 = 0x15,
    op_mode_sense6 = 0x1a,
    op_prevent_allow_removal = 0x1e,
    op_read_capacity = 0x25,
    op_read10 = 0x28,
    op_read_sub_channel = 0x42,
    op_read_toc = 0x43,
    op_get_configuration = 0x46,
    op_get_event_status = 0x4a,
    op_read_disc_information = 0x51,
    op_read_track_information = 0x52,
    op_mode_select10 = 0x55,
    op_mode_sense10 = 0x5a,
    op_set_cd_speed = 0xbb,
    op_read_cd = 0xbe,
    op_read_cdda_nec = 0xd4,
    op_read_cdda = 0xd8,
};

constexpr std::uint8_t asc_unrecovered_read_error = 0x11;
constexpr std::uint8_t asc_invalid_opcode = 0x20;
constexpr std::uint8_t asc_lba_out_of_range = 0x21;
constexpr std::uint8_t asc_parameter_list_length = 0x1a;
constexpr std::uint8_t asc_invalid_field_in_parameters = 0x26;
constexpr std::uint8_t asc_illegal_mode_for_track = 0x64;
constexpr std::uint8_t asc_end_of_user_area = 0x63;

constexpr std::uint8_t leadout_track = 0xaa;
constexpr std::uint8_t control_audio = 0x10;  // ADR 1, two-channel audio
constexpr std::uint8_t control_data = 0x14;   // ADR 1, data track
constexpr std::uint8_t control_pre_emphasis = 0x01;

constexpr std::uint8_t read_cd_type_any = 0;
constexpr std::uint8_t read_cd_type_cdda = 1;
constexpr std::uint8_t read_cd_everything = 0xf8;

constexpr std::uint32_t mode_parameter_bytes = 12;
constexpr std::uint32_t mode_header10_bytes = 8;
constexpr std::uint32_t block_descriptor_bytes = 8;

bool six_byte_mode_command(std::uint8_t opcode) {
    return opcode == op_mode_select6 || opcode == op_mode_sense6;
}

// The commands the drive knows, with the CDB length and the direction of
// their data phase; a shorter CDB or data going the other way is refused
// before any field is looked at.
struct command_shape {
    std::uint8_t opcode;
    std::size_t cdb_length;
    data_direction direction;
};

constexpr command_shape command_shapes[] = {
    {op_test_unit_ready, 6, data_direction::none}, {op_inquiry, 6, data_direction::in},
    {op_mode_select6, 6, data_direction::out},     {op_mode_sense6, 6, data_direction::in},
    {op_read10, 10, data_direction::in},           {op_read_toc, 10, data_direction::in},
    {op_mode_select10, 10, data_direction::out},   {op_mode_sense10, 10, data_direction::in},
    {op_read_cd, 12, data_direction::in},          {op_read_cdda_nec, 10, data_direction::in},
    {op_read_sub_channel, 10, data_direction::in}, {op_read_cdda, 12, data_direction::in},
};

// What an operating system's CD driver asks besides (emulated_drive_probe.cpp).
constexpr command_shape probe_command_shapes[] = {
    {op_prevent_allow_removal, 6, data_direction::none},
    {op_read_capacity, 10, data_direction::in},
    {op_get_configuration, 10, data_direction::in},
    {op_get_event_status, 10, data_direction::in},
    {op_read_disc_information, 10, data_direction::in},
    {op_read_track_information, 10, data_direction::in},
    {op_set_cd_speed, 12, data_direction::none},
};

const command_shape* shape_of(std::uint8_t opcode) {
    for (const command_shape& shape : command_shapes) {
        if (shape.opcode == opcode) {
            return &shape;
        }
    }
    for (const command_shape& shape : probe_command_shapes) {
        if (shape.opcode == opcode) {
            return &shape;
        }
    }
    return nullptr;
}

scsi_outcome completed() {
    return {};
}

// A data phase that does not match what the command moves: the adapter
// reports it as a failed transfer, as the SG_IO backend does.
scsi_outcome wrong_transfer_length() {
    scsi_outcome outcome;
    outcome.what = scsi_outcome::kind::failed;
    outcome.status = sg_status_short_transfer;
    return outcome;
}

// ILLEGAL MODE FOR THIS TRACK for a read that reaches a sector of the other
// kind, which the information field names, as drives do: the kernel keeps
// the sectors before it (a data track's read-ahead runs into the audio).
scsi_outcome illegal_mode(const disc_image& image, std::uint32_t lba, std::uint32_t count,
                          bool audio_wanted) {
    std::uint32_t first = lba;
    while (first + 1 < lba + count && (image.mode_at(first) == track_mode::audio) == audio_wanted) {
        ++first;
    }
    return check_condition(sense_key_illegal_request, asc_illegal_mode_for_track, 0, first);
}

}  // namespace

bool parse_sector_ranges(const std::string& text, sector_ranges& ranges) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        std::uint32_t first = 0;
        auto [after, error] = std::from_chars(p, end, first);
        if (error != std::errc() || after == p) {
            return false;
        }
        std::uint32_t last = first;
        p = after;
        if (p < end && *p == '-') {
            auto [after_last, error_last] = std::from_chars(p + 1, end, last);
            if (error_last != std::errc() || after_last == p + 1 || last < first) {
                return false;
            }
            p = after_last;
        }
        ranges.emplace_back(first, last);
        if (p < end && *p++ != ',') {
            return false;
        }
        if (p == end && p[-1] == ',') {
            return false;
        }
    }
    return !ranges.empty();
}

bool parse_drive_kind(const std::string& text, drive_kind& kind) {
    static const std::pair<const char*, drive_kind> names[] = {
        {"scsi", drive_kind::scsi}, {"atapi", drive_kind::atapi}, {"mmc", drive_kind::mmc}};
    for (const auto& [name, value] : names) {
        if (text == name) {
            kind = value;
            return true;
        }
    }
    return false;
}

bool parse_read_offset(const std::string& text, std::int32_t& samples) {
    const char* p = text.data();
    const char* end = p + text.size();
    if (p < end && *p == '+') {
        ++p;
    }
    long value = 0;
    const auto [after, error] = std::from_chars(p, end, value);
    if (error != std::errc() || after != end || p == end || (text[0] == '+' && *p == '-') ||
        value < -max_read_offset || value > max_read_offset) {
        return false;
    }
    samples = static_cast<std::int32_t>(value);
    return true;
}

emulated_drive::emulated_drive(std::unique_ptr<disc_image> image, sector_ranges medium_errors,
                               drive_kind kind, std::int32_t read_offset)
    : image_(std::move(image)),
      medium_errors_(std::move(medium_errors)),
      kind_(kind),
      read_offset_(read_offset) {}

scsi_outcome emulated_drive::send(const scsi_request& request) {
    if (request.cdb.empty()) {
        return illegal_request(asc_invalid_opcode);
    }
    const command_shape* shape = shape_of(request.cdb[0]);
    if (shape == nullptr || (kind_ != drive_kind::scsi && six_byte_mode_command(request.cdb[0]))) {
        return illegal_request(asc_invalid_opcode);
    }
    if (request.cdb.size() < shape->cdb_length) {
        return illegal_request(asc_invalid_field_in_cdb);
    }
    if (!request.data.empty() && request.direction != shape->direction) {
        return wrong_transfer_length();
    }
    switch (request.cdb[0]) {
        case op_inquiry:
            return inquiry(request);
        case op_read_toc:
            return read_toc(request);
        case op_mode_select6:
            return mode_select(request);
        case op_mode_sense6:
            return mode_sense(request);
        case op_mode_select10:
            return mode_select10(request);
        case op_mode_sense10:
            return mode_sense10(request);
        case op_read10:
            return read10(request);
        case op_read_cd:
            return read_cd(request);
        case op_read_sub_channel:
            return read_sub_channel(request);
        case op_read_cdda:
            // Byte 10 asks for sub-code after each sector, which an image
            // does not hold.
            if (request.cdb[10] != 0) {
                return illegal_request(asc_invalid_field_in_cdb);
            }
            return read_cdda(request, big_endian(request.cdb, 2, 4), big_endian(request.cdb, 6, 4));
        case op_read_cdda_nec:
            return read_cdda(request, big_endian(request.cdb, 2, 4), big_endian(request.cdb, 7, 2));
        case op_read_capacity:
            return read_capacity(request);
        case op_get_configuration:
            return get_configuration(request);
        case op_get_event_status:
            return get_event_status(request);
        case op_read_disc_information:
            return read_disc_information(request);
        case op_read_track_information:
            return read_track_information(request);
        default:
            // TEST UNIT READY: the image is always loaded; PREVENT ALLOW
            // MEDIUM REMOVAL: there is no tray to lock; SET CD SPEED: an
            // image reads as fast as it can at any speed asked for.
            return completed();
    }
}

scsi_outcome emulated_drive::inquiry(const scsi_request& request) {
    constexpr std::uint8_t evpd = 0x01;
    if ((request.cdb[1] & evpd) != 0) {
        return inquiry_vpd(request);
    }
    if (request.cdb[2] != 0) {
        return illegal_request(asc_invalid_field_in_cdb);
    }
    std::uint8_t answer[36] = {};
    answer[0] = 0x05;               // CD/DVD device
    answer[1] = 0x80;               // removable medium
    answer[2] = 0x05;               // version
    answer[3] = 0x02;               // response data format
    answer[4] = sizeof answer - 5;  // additional length
    std::memcpy(answer + 8, "VORKA   ", 8);
    std::memcpy(answer + 16, "CD IMAGE        ", 16);
    std::memcpy(answer + 32, "1.0 ", 4);
    return answer_with(request, answer, sizeof answer, big_endian(request.cdb, 3, 2));
}

scsi_outcome emulated_drive::read_toc(const scsi_request& request) {
    // The format is in byte 2, or in the top bits of byte 9 in the older
    // form that CD drivers still send.
    const std::uint8_t format =
        (request.cdb[2] & 0x0f) != 0 ? request.cdb[2] & 0x0f : request.cdb[9] >> 6;
    constexpr std::uint8_t format_sessions = 1, format_full = 2, format_cd_text = 5;
    if (format == format_sessions) {
        return read_toc_sessions(request);
    }
    if (format == format_full) {
        return read_full_toc(request);
    }
    if (format == format_cd_text) {
        return read_toc_cd_text(request);
    }
    if (format != 0) {
        return illegal_request(asc_invalid_field_in_cdb);
    }
    const bool msf = (request.cdb[1] & 0x02) != 0;
    const std::uint8_t starting = request.cdb[6];
    const auto& tracks = image_->tracks();
    if (starting > tracks.back().number && starting != leadout_track) {
        return illegal_request(asc_invalid_field_in_cdb);
    }
    // 4 header bytes, then at most 99 tracks and the lead-out.
    std::uint8_t answer[4 + 100 * 8] = {};
    std::size_t at = 4;
    auto descriptor = [&](std::uint8_t control, std::uint8_t number, std::uint32_t lba) {
        answer[at + 1] = control;
        answer[at + 2] = number;
        if (msf) {
            const std::uint32_t address = lba + 150;
            answer[at + 5] = static_cast<std::uint8_t>(address / 4500);
            answer[at + 6] = static_cast<std::uint8_t>(address / 75 % 60);
            answer[at + 7] = static_cast<std::uint8_t>(address % 75);
        } else {
            put_big_endian(answer + at + 4, lba, 4);
        }
        at += 8;
    };
    std::uint8_t control = control_audio;
    for (const image_track& track : tracks) {
        control = track.mode == track_mode::audio
                      ? static_cast<std::uint8_t>(control_audio |
                                                  (track.pre_emphasis ? control_pre_emphasis : 0))
                      : control_data;
        if (track.number >= starting && starting != leadout_track) {
            descriptor(control, static_cast<std::uint8_t>(track.number), track.start);
        }
    }
    descriptor(control, leadout_track, image_->leadout());
    put_big_endian(answer, static_cast<std::uint32_t>(at - 2), 2);
    answer[2] = static_cast<std::uint8_t>(tracks.front().number);
    answer[3] = static_cast<std::uint8_t>(tracks.back().number);
    return answer_with(request, answer, at, big_endian(request.cdb, 7, 2));
}

scsi_outcome emulated_drive::mode_select(const scsi_request& request) {
    const std::uint32_t length = request.cdb[4];
    if (length != mode_parameter_bytes || request.data.size() < mode_parameter_bytes) {
        return illegal_request(asc_parameter_list_length);
    }
    if (request.data[3] != block_descriptor_bytes) {
        return illegal_request(asc_invalid_field_in_parameters);
    }
    return set_block_format(request.data.subspan(4, block_descriptor_bytes));
}

// The 8-byte header, whose bytes 6 and 7 give the block descriptor length,
// then no descriptor or one.  The mmc kind refuses any descriptor: its block
// length is not changeable.
scsi_outcome emulated_drive::mode_select10(const scsi_request& request) {
    const std::uint32_t length = big_endian(request.cdb, 7, 2);
    if (length < mode_header10_bytes || request.data.size() < length) {
        return illegal_request(asc_parameter_list_length);
    }
    const std::uint32_t descriptor_length = big_endian(request.data, 6, 2);
    if (descriptor_length == 0) {
        return completed();
    }
    if (descriptor_length != block_descriptor_bytes ||
        length < mode_header10_bytes + block_descriptor_bytes || kind_ == drive_kind::mmc) {
        return illegal_request(asc_invalid_field_in_parameters);
    }
    return set_block_format(request.data.subspan(mode_header10_bytes, block_descriptor_bytes));
}

// Density code in byte 0, block length in bytes 5 to 7.
scsi_outcome emulated_drive::set_block_format(std::span<const std::uint8_t> descriptor) {
    const std::uint32_t block_length = big_endian(descriptor, 5, 3);
    if (block_length != user_data_bytes && block_length != raw_sector_bytes) {
        return illegal_request(asc_invalid_field_in_parameters);
    }
    density_ = descriptor[0];
    block_length_ = block_length;
    return completed();
}

scsi_outcome emulated_drive::mode_sense(const scsi_request& request) {
    std::uint8_t answer[mode_parameter_bytes + capabilities_page_bytes] = {};
    std::size_t length = mode_parameter_bytes;
    answer[3] = block_descriptor_bytes;
    answer[4] = density_;
    put_big_endian(answer + 9, block_length_, 3);
    length += mode_pages(request.cdb[2], answer + length);
    answer[0] = static_cast<std::uint8_t>(length - 1);  // mode data length
    const std::size_t allocation = request.cdb[4];
    return answer_with(request, answer, length, allocation);
}

scsi_outcome emulated_drive::mode_sense10(const scsi_request& request) {
    std::uint8_t answer[mode_header10_bytes + block_descriptor_bytes + capabilities_page_bytes] =
        {};
    std::size_t length = mode_header10_bytes + block_descriptor_bytes;
    answer[7] = block_descriptor_bytes;
    answer[8] = density_;
    put_big_endian(answer + 13, block_length_, 3);
    length += mode_pages(request.cdb[2], answer + length);
    put_big_endian(answer, static_cast<std::uint32_t>(length - 2), 2);  // mode data length
    return answer_with(request, answer, length, big_endian(request.cdb, 7, 2));
}

scsi_outcome emulated_drive::check_range(std::uint32_t lba, std::uint32_t count) const {
    if (lba >= image_->leadout() || count > image_->leadout() - lba) {
        return check_condition(sense_key_illegal_request, asc_lba_out_of_range, 0,
                               std::min(lba, image_->leadout()));
    }
    // Between sessions there is nothing a drive can read.
    if (std::uint32_t first = 0; image_->in_session_gap(lba, count, first)) {
        return check_condition(sense_key_illegal_request, asc_end_of_user_area, 0, first);
    }
    for (const auto& [first, last] : medium_errors_) {
        if (count > 0 && first <= lba + count - 1 && last >= lba) {
            return check_condition(sense_key_medium_error, asc_unrecovered_read_error, 0,
                                   std::max(first, lba));
        }
    }
    return completed();
}

scsi_outcome emulated_drive::read10(const scsi_request& request) {
    const std::uint32_t lba = big_endian(request.cdb, 2, 4);
    const std::uint32_t count = big_endian(request.cdb, 7, 2);
    if (scsi_outcome range = check_range(lba, count); range.what != scsi_outcome::kind::completed) {
        return range;
    }
    if (request.data.size() != std::size_t{count} * block_length_) {
        return wrong_transfer_length();
    }
    if (block_length_ == user_data_bytes) {
        if (!image_->all_data(lba, count)) {
            return illegal_mode(*image_, lba, count, false);
        }
        if (!image_->read_user_data(lba, count, request.data.data())) {
            return check_condition(sense_key_medium_error, asc_unrecovered_read_error, 0, lba);
        }
        position_ = count > 0 ? lba + count - 1 : position_;
        return completed();
    }
    return read_raw_sectors(lba, count, request.data.data());
}

scsi_outcome emulated_drive::read_cd(const scsi_request& request) {
    const std::uint8_t expected_type = (request.cdb[1] >> 2) & 0x07;
    const std::uint8_t fields = request.cdb[9];
    const std::uint8_t sub = request.cdb[10] & 0x07;
    const std::uint32_t lba = big_endian(request.cdb, 2, 4);
    const std::uint32_t count = big_endian(request.cdb, 6, 3);
    if (expected_type > static_cast<std::uint8_t>(sector_kind::mode2_form2) ||
        !read_cd_selection_valid(fields, request.cdb[10])) {
        return illegal_request(asc_invalid_field_in_cdb);
    }
    constexpr std::uint8_t main_channel = 0xf8, error_field = 0x06;
    if (expected_type == read_cd_type_cdda && (fields & main_channel) != 0 &&
        (fields & error_field) == 0 && sub == subchannel_none) {
        return read_cdda(request, lba, count);  // audio alone, straight from the image
    }
    if (scsi_outcome range = check_range(lba, count); range.what != scsi_outcome::kind::completed) {
        return range;
    }
    if (expected_type == read_cd_type_any && fields == read_cd_everything &&
        sub == subchannel_none) {
        // Whatever the sectors hold, raw.
        if (request.data.size() != std::size_t{count} * raw_sector_bytes) {
            return wrong_transfer_length();
        }
        return read_raw_sectors(lba, count, request.data.data());
    }
    return read_cd_fields(request, lba, count);
}

// Any other selection: each sector raw into the drive's own buffer first,
// then the fields asked for, its C2 error information (zeros: the image
// reads without error) and its sub-channel, in that order.
scsi_outcome emulated_drive::read_cd_fields(const scsi_request& request, std::uint32_t lba,
                                            std::uint32_t count) {
    const std::uint8_t expected_type = (request.cdb[1] >> 2) & 0x07;
    const std::uint8_t fields = request.cdb[9];
    const std::uint8_t sub = request.cdb[10] & 0x07;
    sectors_.resize(std::size_t{count} * raw_sector_bytes);
    if (scsi_outcome read = read_raw_sectors(lba, count, sectors_.data());
        read.what != scsi_outcome::kind::completed) {
        return read;
    }
    const std::uint32_t extra = c2_error_bytes(fields) + subchannel_bytes(sub);
    std::size_t total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const sector_kind kind =
            kind_of_sector(lba + i, sectors_.data() + std::size_t{i} * raw_sector_bytes);
        if (expected_type != read_cd_type_any && static_cast<std::uint8_t>(kind) != expected_type) {
            return check_condition(sense_key_illegal_request, asc_illegal_mode_for_track, 0,
                                   lba + i);
        }
        const std::optional<sector_span> span = selected_main_channel(fields, kind);
        if (!span) {
            return illegal_request(asc_invalid_field_in_cdb);
        }
        total += span->length + extra;
    }
    if (request.data.size() != total) {
        return wrong_transfer_length();
    }
    std::uint8_t* out = request.data.data();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* sector = sectors_.data() + std::size_t{i} * raw_sector_bytes;
        const sector_span span = *selected_main_channel(fields, kind_of_sector(lba + i, sector));
        // A selection of no main-channel field and no C2 transfers nothing:
        // the buffer may then be empty, and memcpy must not see its null pointer.
        if (span.length != 0) {
            std::memcpy(out, sector + span.offset, span.length);
            out += span.length;
        }
        if (const std::uint32_t c2 = c2_error_bytes(fields); c2 != 0) {
            std::memset(out, 0, c2);
            out += c2;
        }
        if (sub != subchannel_none) {
            write_subchannel(subchannel_of(*image_, lba + i), sub, out);
            out += subchannel_bytes(sub);
        }
    }
    return completed();
}

// A Mode 2 sector is Form 2 when its subheader's submode byte says so
// (bit 5), Form 1 otherwise.
sector_kind emulated_drive::kind_of_sector(std::uint32_t lba, const std::uint8_t* raw) const {
    constexpr std::size_t submode_at = 18;
    constexpr std::uint8_t form2_bit = 0x20;
    switch (image_->mode_at(lba)) {
        case track_mode::audio:
            return sector_kind::cdda;
        case track_mode::mode2_2352:
            return (raw[submode_at] & form2_bit) != 0 ? sector_kind::mode2_form2
                                                      : sector_kind::mode2_form1;
        default:
            return sector_kind::mode1;
    }
}

scsi_outcome emulated_drive::read_raw_sectors(std::uint32_t lba, std::uint32_t count,
                                              std::uint8_t* out) {
    if (!read_sectors(lba, count, out)) {
        return check_condition(sense_key_medium_error, asc_unrecovered_read_error, 0, lba);
    }
    if (count > 0) {
        position_ = lba + count - 1;
    }
    return completed();
}

scsi_outcome emulated_drive::read_cdda(const scsi_request& request, std::uint32_t lba,
                                       std::uint32_t count) {
    if (scsi_outcome range = check_range(lba, count); range.what != scsi_outcome::kind::completed) {
        return range;
    }
    if (!image_->all_audio(lba, count)) {
        return illegal_mode(*image_, lba, count, true);
    }
    if (request.data.size() != std::size_t{count} * raw_sector_bytes) {
        return wrong_transfer_length();
    }
    return read_raw_sectors(lba, count, request.data.data());
}

bool emulated_drive::read_sectors(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
    if (read_offset_ == 0) {
        return image_->read_raw(lba, count, out);
    }
    for (std::uint32_t i = 0; i < count;) {
        const bool audio = image_->all_audio(lba + i, 1);
        std::uint32_t n = 1;
        while (i + n < count && image_->all_audio(lba + i + n, 1) == audio) {
            ++n;
        }
        std::uint8_t* at = out + std::size_t{i} * raw_sector_bytes;
        if (!(audio ? read_shifted_audio(lba + i, n, at) : image_->read_raw(lba + i, n, at))) {
            return false;
        }
        i += n;
    }
    return true;
}

// Sample p of the answer is sample p - c of the disc; where that lies
// outside the disc's audio (before its first sample, in a data track, past
// a lead-out) the drive delivers silence.
bool emulated_drive::read_shifted_audio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
    constexpr std::int64_t samples_per_sector = raw_sector_bytes / 4;
    const std::int64_t first_sample = std::int64_t{lba} * samples_per_sector - read_offset_;
    std::int64_t source = first_sample / samples_per_sector;
    if (first_sample % samples_per_sector < 0) {
        --source;
    }
    const auto skip = static_cast<std::size_t>(first_sample - source * samples_per_sector);
    const std::uint32_t sectors = count + (skip > 0 ? 1 : 0);
    shift_buffer_.resize(std::max(shift_buffer_.size(), std::size_t{sectors} * raw_sector_bytes));
    for (std::uint32_t i = 0; i < sectors;) {
        const std::int64_t at = source + i;
        auto readable = [this](std::int64_t sector) {
            return sector >= 0 && sector < image_->leadout() &&
                   image_->all_audio(static_cast<std::uint32_t>(sector), 1);
        };
        const bool present = readable(at);
        std::uint32_t n = 1;
        while (i + n < sectors && readable(at + n) == present) {
            ++n;
        }
        std::uint8_t* into = shift_buffer_.data() + std::size_t{i} * raw_sector_bytes;
        if (!present) {
            std::memset(into, 0, std::size_t{n} * raw_sector_bytes);
        } else if (!image_->read_raw(static_cast<std::uint32_t>(at), n, into)) {
            return false;
        }
        i += n;
    }
    std::memcpy(out, shift_buffer_.data() + skip * 4, std::size_t{count} * raw_sector_bytes);
    return true;
}

passthrough_open_result open_emulated_drive(const std::string& cue_path) {
    passthrough_open_result result;
    sector_ranges medium_errors;
    const char* listed = std::getenv("VORKA_IMAGE_MEDIUM_ERRORS");
    if (listed != nullptr && *listed != '\0' && !parse_sector_ranges(listed, medium_errors)) {
        result.error = std::string("VORKA_IMAGE_MEDIUM_ERRORS: bad sector list \"") + listed +
                       "\" (expected first[-last][,...], decimal)";
        return result;
    }
    drive_kind kind = drive_kind::scsi;
    const char* named = std::getenv("VORKA_IMAGE_DRIVE");
    if (named != nullptr && *named != '\0' && !parse_drive_kind(named, kind)) {
        result.error = std::string("VORKA_IMAGE_DRIVE: unknown drive kind \"") + named +
                       "\" (expected scsi, atapi or mmc)";
        return result;
    }
    std::int32_t read_offset = 0;
    const char* offset = std::getenv("VORKA_IMAGE_READ_OFFSET");
    if (offset != nullptr && *offset != '\0' && !parse_read_offset(offset, read_offset)) {
        result.error = std::string("VORKA_IMAGE_READ_OFFSET: bad read offset \"") + offset +
                       "\" (expected samples, " + std::to_string(-max_read_offset) + " to " +
                       std::to_string(max_read_offset) + ")";
        return result;
    }
    std::unique_ptr<disc_image> image = disc_image::open(cue_path, result.error);
    if (image != nullptr) {
        result.sources = image->sources();
        result.device = std::make_unique<emulated_drive>(std::move(image), std::move(medium_errors),
                                                         kind, read_offset);
    }
    return result;
}
