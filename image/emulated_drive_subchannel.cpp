// What programs that read more than the audio ask of a drive: the current
// position, the media catalog number and the ISRCs (READ SUB-CHANNEL), and
// the disc's CD-Text (READ TOC format 5), all from the disc image's cue
// sheet.

#include <cstring>

#include "image/cd_text.h"
#include "image/drive_answer.h"
#include "image/emulated_drive.h"
#include "image/subchannel.h"

using namespace drive_answer;

namespace {

constexpr std::uint8_t format_position = 0x01, format_catalog = 0x02, format_isrc = 0x03;
constexpr std::uint8_t no_audio_status = 0x15;  // the drive plays no audio
constexpr std::uint8_t valid_bit = 0x80;

// An address as a logical block address, or as binary minutes, seconds and
// frames; track-relative addresses count frames from INDEX 01.
void put_address(std::uint8_t* out, std::int32_t frames, bool msf, bool absolute) {
    if (!msf) {
        put_big_endian(out, static_cast<std::uint32_t>(frames), 4);
        return;
    }
    const std::uint32_t value = absolute     ? static_cast<std::uint32_t>(frames + 150)
                                : frames < 0 ? static_cast<std::uint32_t>(-frames)
                                             : static_cast<std::uint32_t>(frames);
    out[0] = 0;
    out[1] = static_cast<std::uint8_t>(value / 4500);
    out[2] = static_cast<std::uint8_t>(value / 75 % 60);
    out[3] = static_cast<std::uint8_t>(value % 75);
}

}  // namespace

scsi_outcome emulated_drive::read_sub_channel(const scsi_request& request) {
    const bool msf = (request.cdb[1] & 0x02) != 0;
    const bool sub_q = (request.cdb[2] & 0x40) != 0;
    const std::uint8_t format = request.cdb[3];
    const std::size_t allocation = big_endian(request.cdb, 7, 2);
    std::uint8_t answer[24] = {0, no_audio_status};
    if (!sub_q) {
        return answer_with(request, answer, 4, allocation);
    }
    std::size_t length = 24;
    answer[4] = format;
    switch (format) {
        case format_position: {
            const disc_position at = position_of(*image_, position_);
            length = 16;
            answer[5] = static_cast<std::uint8_t>(0x10 | track_control(*at.track));
            answer[6] = static_cast<std::uint8_t>(at.track->number);
            answer[7] = static_cast<std::uint8_t>(at.index);
            put_address(answer + 8, static_cast<std::int32_t>(position_), msf, true);
            put_address(answer + 12, at.relative, msf, false);
            break;
        }
        case format_catalog:
            if (!image_->catalog().empty()) {
                answer[8] = valid_bit;
                std::memcpy(answer + 9, image_->catalog().data(), 13);
            }
            break;
        case format_isrc: {
            const image_track* track = nullptr;
            for (const image_track& t : image_->tracks()) {
                if (t.number == request.cdb[6]) {
                    track = &t;
                }
            }
            if (track == nullptr) {
                return illegal_request(asc_invalid_field_in_cdb);
            }
            answer[5] = static_cast<std::uint8_t>(0x30 | track_control(*track));
            answer[6] = static_cast<std::uint8_t>(track->number);
            if (!track->isrc.empty()) {
                answer[8] = valid_bit;
                std::memcpy(answer + 9, track->isrc.data(), 12);
            }
            break;
        }
        default:
            return illegal_request(asc_invalid_field_in_cdb);
    }
    put_big_endian(answer + 2, static_cast<std::uint32_t>(length - 4), 2);
    return answer_with(request, answer, length, allocation);
}

// The packs after a 4-byte header whose first two bytes count the bytes
// that follow them; a disc without CD-Text has the header alone.
scsi_outcome emulated_drive::read_toc_cd_text(const scsi_request& request) {
    std::vector<std::uint8_t> answer(4);
    const std::vector<std::uint8_t> packs = cd_text_packs(*image_);
    answer.insert(answer.end(), packs.begin(), packs.end());
    put_big_endian(answer.data(), static_cast<std::uint32_t>(answer.size() - 2), 2);
    return answer_with(request, answer.data(), answer.size(), big_endian(request.cdb, 7, 2));
}
