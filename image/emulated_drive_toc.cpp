// READ TOC format 2, the full table of contents: for each session the
// lead-in's pointers A0 (first track, disc type), A1 (last track) and A2
// (where the session's lead-out starts), then one entry per track, each as
// the Q sub-channel of the lead-in holds it.  Addresses are minutes,
// seconds and frames in binary, counted from the 2-second lead-in offset.

#include <cstring>

#include "image/drive_answer.h"
#include "image/emulated_drive.h"

using namespace drive_answer;

namespace {

constexpr std::size_t header_bytes = 4;
constexpr std::size_t descriptor_bytes = 11;
constexpr std::size_t max_descriptors = 99 + 3 * 99;  // every track, three points per session
constexpr std::uint8_t adr_position = 0x10;
constexpr std::uint8_t point_first_track = 0xa0;
constexpr std::uint8_t point_last_track = 0xa1;
constexpr std::uint8_t point_leadout = 0xa2;
constexpr std::uint8_t disc_type_cd = 0x00;     // CD-DA or CD-ROM
constexpr std::uint8_t disc_type_cd_xa = 0x20;  // CD-ROM XA: Mode 2 data

std::uint8_t control_of(const image_track& track) {
    if (track.mode != track_mode::audio) {
        return 0x04;
    }
    return track.pre_emphasis ? 0x01 : 0x00;
}

}  // namespace

scsi_outcome emulated_drive::read_full_toc(const scsi_request& request) {
    const auto& sessions = image_->sessions();
    const auto& tracks = image_->tracks();
    const int starting = std::max<int>(request.cdb[6], 1);
    if (starting > sessions.back().number) {
        return illegal_request(asc_invalid_field_in_cdb);
    }
    std::uint8_t answer[header_bytes + max_descriptors * descriptor_bytes] = {};
    std::size_t at = header_bytes;
    auto descriptor = [&](int session, const image_track& track, std::uint8_t point,
                          std::uint8_t pmin, std::uint8_t psec, std::uint8_t pframe) {
        std::uint8_t* d = answer + at;
        d[0] = static_cast<std::uint8_t>(session);
        d[1] = static_cast<std::uint8_t>(adr_position | control_of(track));
        d[3] = point;
        d[8] = pmin;
        d[9] = psec;
        d[10] = pframe;
        at += descriptor_bytes;
    };
    auto at_address = [&](int session, const image_track& track, std::uint8_t point,
                          std::uint32_t lba) {
        const std::uint32_t address = lba + 150;
        descriptor(session, track, point, static_cast<std::uint8_t>(address / 4500),
                   static_cast<std::uint8_t>(address / 75 % 60),
                   static_cast<std::uint8_t>(address % 75));
    };
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        const image_session& session = sessions[s];
        if (session.number < starting) {
            continue;
        }
        const std::size_t end =
            s + 1 < sessions.size() ? sessions[s + 1].first_track : tracks.size();
        const image_track& first = tracks[session.first_track];
        const image_track& last = tracks[end - 1];
        bool mode2 = false;
        for (std::size_t t = session.first_track; t < end; ++t) {
            mode2 = mode2 || tracks[t].mode == track_mode::mode2_2352;
        }
        descriptor(session.number, first, point_first_track,
                   static_cast<std::uint8_t>(first.number), mode2 ? disc_type_cd_xa : disc_type_cd,
                   0);
        descriptor(session.number, last, point_last_track, static_cast<std::uint8_t>(last.number),
                   0, 0);
        at_address(session.number, last, point_leadout, session.leadout);
        for (std::size_t t = session.first_track; t < end; ++t) {
            at_address(session.number, tracks[t], static_cast<std::uint8_t>(tracks[t].number),
                       tracks[t].start);
        }
    }
    put_big_endian(answer, static_cast<std::uint32_t>(at - 2), 2);
    answer[2] = static_cast<std::uint8_t>(sessions.front().number);
    answer[3] = static_cast<std::uint8_t>(sessions.back().number);
    return answer_with(request, answer, at, big_endian(request.cdb, 7, 2));
}
