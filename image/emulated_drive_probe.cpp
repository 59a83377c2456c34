// What an operating system's CD driver asks of a drive when it finds it and
// each time a program opens it (Linux: the sr driver and the SCSI core):
// vital product data, capacity, features, events, disc and track
// information.  A reader of audio needs none of it, but a drive served to a
// kernel must answer it as a read-only CD-ROM drive with a closed disc in
// its tray would.

#include <cstdio>
#include <cstring>
#include <string>

#include "image/drive_answer.h"
#include "image/emulated_drive.h"

using namespace drive_answer;

namespace {

constexpr std::uint8_t peripheral_cd = 0x05;
constexpr std::uint8_t asc_lba_out_of_range = 0x21;
constexpr std::uint8_t profile_cd_rom = 0x08;
constexpr std::uint32_t cd_speed_kbps = 176;  // 1x: 75 sectors of 2352 bytes a second

std::size_t allocation_at(const scsi_request& request, std::size_t at) {
    return big_endian(request.cdb, at, 2);
}

// The unit serial number: the same for the same disc image, different for
// discs whose tables of contents differ.
std::string serial_number(const disc_image& image) {
    std::uint64_t hash = 0xcbf29ce484222325u;  // 64-bit FNV-1a over the TOC
    const auto add = [&hash](std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            hash = (hash ^ ((value >> (8 * i)) & 0xff)) * 0x100000001b3u;
        }
    };
    for (const image_track& track : image.tracks()) {
        add(track.start);
        add(static_cast<std::uint32_t>(track.mode));
    }
    add(image.leadout());
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// The start address of a TOC descriptor, as a logical block address or as
// minutes, seconds and frames (with the 2-second lead-in offset).
void put_address(std::uint8_t* out, std::uint32_t lba, bool msf) {
    if (!msf) {
        put_big_endian(out, lba, 4);
        return;
    }
    const std::uint32_t address = lba + 150;
    out[0] = 0;
    out[1] = static_cast<std::uint8_t>(address / 4500);
    out[2] = static_cast<std::uint8_t>(address / 75 % 60);
    out[3] = static_cast<std::uint8_t>(address % 75);
}

std::uint8_t control_of(const image_track& track) {
    if (track.mode != track_mode::audio) {
        return 0x04;  // data track, copy prohibited
    }
    return track.pre_emphasis ? 0x01 : 0x00;
}

// One feature descriptor of GET CONFIGURATION: code, version, persistent
// and current bits, and the feature's own bytes.
struct feature {
    std::uint16_t code;
    std::uint8_t flags;  // version << 2 | persistent << 1 | current
    std::uint8_t data[8];
    std::uint8_t data_length;
};

constexpr feature features[] = {
    {0x0000, 0x03, {0x00, profile_cd_rom, 0x01, 0x00}, 4},    // profile list: CD-ROM, current
    {0x0001, 0x07, {0x00, 0x00, 0x00, 0x01, 0x00}, 8},        // core: SCSI interface
    {0x0003, 0x03, {0x21}, 4},                                // removable medium: tray, lock
    {0x0010, 0x01, {0x00, 0x00, 0x08, 0x00, 0x00, 0x01}, 8},  // random readable: 2048, 1 block
    {0x001e, 0x05, {0x03}, 4},                                // CD read: CD-Text, C2
};

}  // namespace

scsi_outcome emulated_drive::inquiry_vpd(const scsi_request& request) {
    const std::uint8_t page = request.cdb[2];
    const std::string serial = serial_number(*image_);
    std::uint8_t answer[64] = {peripheral_cd, page};
    std::size_t length = 4;
    switch (page) {
        case 0x00:  // the pages there are
            for (std::uint8_t listed : {0x00, 0x80, 0x83}) {
                answer[length++] = listed;
            }
            break;
        case 0x80:  // unit serial number
            std::memcpy(answer + length, serial.data(), serial.size());
            length += serial.size();
            break;
        case 0x83: {  // device identification: a T10 vendor identifier
            std::uint8_t* designator = answer + length;
            designator[0] = 0x02;  // ASCII
            designator[1] = 0x01;  // of the logical unit, T10 vendor identification
            designator[3] = static_cast<std::uint8_t>(8 + serial.size());
            std::memcpy(designator + 4, "VORKA   ", 8);
            std::memcpy(designator + 12, serial.data(), serial.size());
            length += 4 + designator[3];
            break;
        }
        default:
            return illegal_request(asc_invalid_field_in_cdb);
    }
    put_big_endian(answer + 2, static_cast<std::uint32_t>(length - 4), 2);
    return answer_with(request, answer, length, allocation_at(request, 3));
}

// READ TOC format 1: the first and last session, and the first track of
// the last one.
scsi_outcome emulated_drive::read_toc_sessions(const scsi_request& request) {
    const bool msf = (request.cdb[1] & 0x02) != 0;
    const auto& sessions = image_->sessions();
    const image_track& first = image_->tracks()[sessions.back().first_track];
    std::uint8_t answer[12] = {0x00, 0x0a, static_cast<std::uint8_t>(sessions.front().number),
                               static_cast<std::uint8_t>(sessions.back().number)};
    answer[5] = static_cast<std::uint8_t>(0x10 | control_of(first));
    answer[6] = static_cast<std::uint8_t>(first.number);
    put_address(answer + 8, first.start, msf);
    return answer_with(request, answer, sizeof answer, allocation_at(request, 7));
}

std::size_t emulated_drive::mode_pages(std::uint8_t page_code, std::uint8_t* out) {
    constexpr std::uint8_t capabilities = 0x2a, all_pages = 0x3f;
    if ((page_code & 0x3f) != capabilities && (page_code & 0x3f) != all_pages) {
        return 0;  // any other page: the block descriptor alone
    }
    constexpr std::uint8_t page_length = capabilities_page_bytes - 2;
    std::memset(out, 0, 2 + page_length);
    out[0] = 0x2a;
    out[1] = page_length;
    out[4] = 0x70;  // reads Mode 2 Form 1 and Form 2, discs of several sessions
    // CD-DA commands, accurate CD-DA stream, R-W, R-W corrected, C2
    // pointers, ISRC, media catalog number (UPC)
    out[5] = 0x7f;
    out[6] = 0x21;                                    // tray, lockable, no eject
    out[7] = 0x20;                                    // reads the lead-in's R-W: CD-Text
    put_big_endian(out + 8, 24 * cd_speed_kbps, 2);   // maximum read speed
    put_big_endian(out + 12, 64, 2);                  // buffer, kilobytes
    put_big_endian(out + 14, 24 * cd_speed_kbps, 2);  // current read speed
    return 2 + page_length;
}

scsi_outcome emulated_drive::read_capacity(const scsi_request& request) {
    std::uint8_t answer[8] = {};
    put_big_endian(answer, image_->leadout() - 1, 4);
    put_big_endian(answer + 4, user_data_bytes, 4);
    return answer_with(request, answer, sizeof answer, sizeof answer);
}

scsi_outcome emulated_drive::get_configuration(const scsi_request& request) {
    const std::uint8_t requested = request.cdb[1] & 0x03;
    const std::uint32_t starting = big_endian(request.cdb, 2, 2);
    constexpr std::uint8_t all = 0, current = 1, one = 2;
    if (requested != all && requested != current && requested != one) {
        return illegal_request(asc_invalid_field_in_cdb);
    }
    std::uint8_t answer[8 + sizeof features / sizeof features[0] * 12] = {};
    std::size_t length = 8;
    for (const feature& f : features) {
        if (requested == one ? f.code != starting : f.code < starting) {
            continue;
        }
        std::uint8_t* d = answer + length;
        put_big_endian(d, f.code, 2);
        d[2] = f.flags;
        d[3] = f.data_length;
        std::memcpy(d + 4, f.data, f.data_length);
        length += 4 + f.data_length;
    }
    put_big_endian(answer, static_cast<std::uint32_t>(length - 4), 4);
    put_big_endian(answer + 6, profile_cd_rom, 2);
    return answer_with(request, answer, length, allocation_at(request, 7));
}

// Only polled media events: the disc is always in and never changes.
scsi_outcome emulated_drive::get_event_status(const scsi_request& request) {
    constexpr std::uint8_t polled = 0x01;
    constexpr std::uint8_t media_class = 0x10;
    if ((request.cdb[1] & polled) == 0) {
        return illegal_request(asc_invalid_field_in_cdb);
    }
    std::uint8_t answer[8] = {0x00, 0x02, 0x80, media_class};  // no event class asked for
    std::size_t length = 4;
    if ((request.cdb[4] & media_class) != 0) {
        answer[1] = 0x06;
        answer[2] = 0x04;  // media events
        answer[5] = 0x02;  // no change; medium present, tray closed
        length = 8;
    }
    return answer_with(request, answer, length, allocation_at(request, 7));
}

scsi_outcome emulated_drive::read_disc_information(const scsi_request& request) {
    if ((request.cdb[1] & 0x07) != 0) {  // only the standard disc information
        return illegal_request(asc_invalid_field_in_cdb);
    }
    const auto& tracks = image_->tracks();
    std::uint8_t answer[34] = {};
    answer[1] = sizeof answer - 2;
    answer[2] = 0x0e;  // last session complete, disc finalized, not erasable
    answer[3] = static_cast<std::uint8_t>(tracks.front().number);
    answer[4] = static_cast<std::uint8_t>(image_->sessions().size());
    answer[5] = static_cast<std::uint8_t>(tracks[image_->sessions().back().first_track].number);
    answer[6] = static_cast<std::uint8_t>(tracks.back().number);
    std::memset(answer + 16, 0xff, 8);  // no next session, no lead-out to come
    return answer_with(request, answer, sizeof answer, allocation_at(request, 7));
}

scsi_outcome emulated_drive::read_track_information(const scsi_request& request) {
    const std::uint8_t by = request.cdb[1] & 0x03;
    const std::uint32_t value = big_endian(request.cdb, 2, 4);
    constexpr std::uint8_t by_address = 0, by_track = 1, by_session = 2;
    const auto& tracks = image_->tracks();
    const image_track* found = nullptr;
    std::uint32_t end = image_->leadout();
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        // A session's last track ends at that session's lead-out.
        const std::uint32_t next =
            i + 1 < tracks.size() && tracks[i + 1].session == tracks[i].session
                ? tracks[i + 1].start
                : image_->sessions()[static_cast<std::size_t>(tracks[i].session) - 1].leadout;
        const bool first_of_session = i == 0 || tracks[i - 1].session != tracks[i].session;
        const bool match =
            by == by_address ? tracks[i].start <= value && value < next
            : by == by_track ? value == static_cast<std::uint32_t>(tracks[i].number)
            : by == by_session
                ? value == static_cast<std::uint32_t>(tracks[i].session) && first_of_session
                : false;
        if (match) {
            found = &tracks[i];
            end = next;
            break;
        }
    }
    if (found == nullptr) {
        return by == by_address && value >= image_->leadout()
                   ? illegal_request(asc_lba_out_of_range)
                   : illegal_request(asc_invalid_field_in_cdb);
    }
    std::uint8_t answer[36] = {};
    answer[1] = sizeof answer - 2;
    answer[2] = static_cast<std::uint8_t>(found->number);
    answer[3] = static_cast<std::uint8_t>(found->session);
    answer[5] = control_of(*found);
    answer[6] = found->mode == track_mode::audio        ? 0x0f  // no data mode
                : found->mode == track_mode::mode2_2352 ? 0x02
                                                        : 0x01;
    put_big_endian(answer + 8, found->start, 4);
    put_big_endian(answer + 24, end - found->start, 4);
    put_big_endian(answer + 28, end - 1, 4);  // last recorded address
    return answer_with(request, answer, sizeof answer, allocation_at(request, 7));
}
