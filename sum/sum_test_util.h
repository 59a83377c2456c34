#pragma once

// Helpers of the vorkasum tests: tables of contents, generated audio and
// the files vorka writes.

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/test_audio.h"
#include "output/headers.h"
#include "scsi/toc.h"
#include "sum/disc_ids.h"
#include "sum/disc_layout.h"

// A table of contents with tracks at these sectors and the lead-out; the
// last track is a data track when data_last.
inline track_table make_table(std::initializer_list<std::int64_t> starts, std::int64_t leadout,
                              bool data_last = false) {
    track_table table;
    int i = 0;
    for (std::int64_t start : starts) {
        table.track_start[i] = start;
        table.track_type[i] = 0x10;
        ++i;
    }
    table.track_count = i;
    table.track_start[i] = leadout;
    table.track_type[i] = 0x10;
    if (data_last) {
        table.track_type[i - 1] = 0x14 | 0x01;  // what the probe leaves: data bit and mode 1
    }
    return table;
}

// The same table with track 1 a data track: a mixed-mode CD.
inline track_table with_data_first(track_table table) {
    table.track_type[0] = 0x14 | 0x01;
    return table;
}

inline disc_layout layout_of(const track_table& table) {
    disc_layout layout;
    std::string error;
    if (!make_disc_layout(table, layout, error)) {
        throw std::runtime_error(error);
    }
    return layout;
}

// The test-pattern audio of sectors first .. first + count - 1, as a drive
// delivers it (CD-DA order).
inline std::string pattern_audio(std::uint32_t first, std::uint32_t count) {
    std::string audio(static_cast<std::size_t>(count) * 2352, '\0');
    for (std::uint32_t i = 0; i < count; ++i) {
        fill_test_audio(first + i, reinterpret_cast<std::uint8_t*>(audio.data()) + i * 2352);
    }
    return audio;
}

// The 16-bit samples of CD-DA audio with their bytes exchanged.
inline std::string swapped(std::string audio) {
    for (std::size_t i = 0; i + 1 < audio.size(); i += 2) {
        std::swap(audio[i], audio[i + 1]);
    }
    return audio;
}

template <std::size_t size>
std::string header_text(const std::array<std::uint8_t, size>& header) {
    return std::string(header.begin(), header.end());
}

// The audio as vorka writes it in the format (wav, aiff, au, pcm, mcp).
inline std::string as_format(const std::string& format, const std::string& audio) {
    if (format == "wav") {
        return header_text(make_wav_header(audio.size())) + audio;
    }
    if (format == "aiff") {
        return header_text(make_aiff_header(audio.size())) + swapped(audio);
    }
    if (format == "au") {
        return header_text(make_au_header(audio.size())) + swapped(audio);
    }
    return format == "mcp" ? swapped(audio) : audio;
}

// One block of an AccurateRip database entry, in the server's layout:
// track count, id1, id2, freedb ID, then per track the confidence, the
// checksum and the frame-450 checksum, little-endian.
struct test_ar_track {
    std::uint8_t confidence;
    std::uint32_t checksum;
};

inline std::string ar_block_bytes(const accuraterip_ids& ids,
                                  const std::vector<test_ar_track>& tracks) {
    auto le32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    std::string bytes(1, static_cast<char>(ids.audio_tracks));
    bytes += le32(ids.id1) + le32(ids.id2) + le32(ids.freedb);
    for (const test_ar_track& t : tracks) {
        bytes += static_cast<char>(t.confidence);
        bytes += le32(t.checksum) + le32(0x45045045);
    }
    return bytes;
}
