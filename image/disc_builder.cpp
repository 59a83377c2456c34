#include "image/disc_builder.h"

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "image/disc_image.h"
#include "image/test_audio.h"
#include "output/headers.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t mode1_user_at = 16;
constexpr std::uint32_t mode2_user_at = 24;

const char* mode_name(track_mode mode) {
    switch (mode) {
        case track_mode::mode1_2048:
            return "MODE1/2048";
        case track_mode::mode1_2352:
            return "MODE1/2352";
        case track_mode::mode2_2352:
            return "MODE2/2352";
        case track_mode::audio:
            break;
    }
    return "AUDIO";
}

std::string cue_time(std::uint32_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / 4500, frames / 75 % 60,
                  frames % 75);
    return text;
}

// A gentle progression of major and minor triads with a slow melody on
// top, two seconds per chord.
void fill_music(std::uint32_t lba, std::uint8_t* sector) {
    static constexpr double chords[4][3] = {
        {261.63, 329.63, 392.00},  // C
        {220.00, 261.63, 329.63},  // A minor
        {174.61, 220.00, 261.63},  // F
        {196.00, 246.94, 293.66},  // G
    };
    static constexpr double melody[8] = {523.25, 587.33, 659.25, 783.99,
                                         659.25, 587.33, 523.25, 440.00};
    constexpr double rate = 44100.0;
    constexpr double two_pi = 6.283185307179586;
    for (std::uint32_t frame = 0; frame < test_frames_per_sector; ++frame) {
        const double t = (double(lba) * test_frames_per_sector + frame) / rate;
        const auto chord = static_cast<std::size_t>(t / 2.0) % 4;
        const auto note = static_cast<std::size_t>(t / 0.5) % 8;
        const double within = std::fmod(t, 0.5) / 0.5;
        const double envelope = std::exp(-3.0 * within);
        double left = 0;
        for (double f : chords[chord]) {
            left += 0.12 * std::sin(two_pi * f * t);
        }
        double right = left;
        const double lead = 0.2 * envelope * std::sin(two_pi * melody[note] * t);
        left += lead * 0.7;
        right += lead;
        const auto l = static_cast<std::uint16_t>(static_cast<std::int16_t>(left * 32767 * 0.8));
        const auto r = static_cast<std::uint16_t>(static_cast<std::int16_t>(right * 32767 * 0.8));
        std::uint8_t* at = sector + frame * 4;
        at[0] = static_cast<std::uint8_t>(l);
        at[1] = static_cast<std::uint8_t>(l >> 8);
        at[2] = static_cast<std::uint8_t>(r);
        at[3] = static_cast<std::uint8_t>(r >> 8);
    }
}

void test_raw_sector(std::uint32_t lba, track_mode mode, std::uint8_t* out) {
    if (mode == track_mode::audio) {
        fill_test_audio(lba, out);
        return;
    }
    std::memset(out, 0, raw_sector_bytes);
    const bool mode2 = mode == track_mode::mode2_2352;
    write_sector_header(lba, mode2 ? 2 : 1, out);
    fill_test_user_data(lba, out + (mode2 ? mode2_user_at : mode1_user_at));
}

void swap_pairs(std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        std::swap(data[i], data[i + 1]);
    }
}

// One sector as the BIN file stores it.
std::size_t file_form(std::uint32_t lba, const track_spec& track, bool big_endian,
                      audio_content audio, std::uint8_t* out) {
    if (track.mode == track_mode::mode1_2048) {
        fill_test_user_data(lba, out);
        return user_data_bytes;
    }
    if (track.mode == track_mode::audio && audio == audio_content::music) {
        fill_music(lba, out);
    } else if (track.mode == track_mode::audio && audio == audio_content::silence) {
        std::memset(out, 0, raw_sector_bytes);
    } else {
        test_raw_sector(lba, track.mode, out);
    }
    if (track.mode == track_mode::audio && big_endian) {
        swap_pairs(out, raw_sector_bytes);
    }
    return raw_sector_bytes;
}

struct file_writer {
    fs::path path;
    image_file_format format = image_file_format::bin;
    std::ofstream out;
    std::uint32_t frames = 0;
    std::uint32_t cut = 0;
    bool big_endian = false;
    std::size_t first_sector = 0;  // index into built_disc::sectors of its first file sector
    std::vector<std::size_t> sector_indexes;
};

// A WAV or AIFF file's header, sized for `audio_bytes` of audio.
std::vector<std::uint8_t> file_header(image_file_format format, std::uint64_t audio_bytes) {
    if (format == image_file_format::wav) {
        const auto header = make_wav_header(audio_bytes);
        return {header.begin(), header.end()};
    }
    if (format == image_file_format::aiff) {
        const auto header = make_aiff_header(audio_bytes);
        return {header.begin(), header.end()};
    }
    return {};
}

void write_header(file_writer& file, std::uint64_t audio_bytes) {
    const std::vector<std::uint8_t> header = file_header(file.format, audio_bytes);
    file.out.seekp(0);
    file.out.write(reinterpret_cast<const char*>(header.data()),
                   static_cast<std::streamsize>(header.size()));
}

void finish_file(file_writer& file, built_disc& disc) {
    if (!file.out.is_open()) {
        return;
    }
    write_header(file, std::uint64_t{file.frames} * raw_sector_bytes);
    file.out.close();
    if (!file.out) {
        throw std::runtime_error(file.path.string() + ": write failed");
    }
    if (file.cut > 0) {
        const auto size = fs::file_size(file.path);
        fs::resize_file(file.path, size - std::min<std::uintmax_t>(size, file.cut));
        if (!file.sector_indexes.empty()) {
            disc.sectors[file.sector_indexes.back()].cut_bytes = file.cut;
        }
    }
}

}  // namespace

built_disc build_disc(const fs::path& folder, const disc_spec& spec) {
    built_disc disc;
    disc.cue = folder / (spec.name + ".cue");
    std::string cue;
    file_writer file;
    int file_number = 0;
    std::uint32_t lba = 0;
    std::array<std::uint8_t, raw_sector_bytes> sector{};
    auto write_sectors = [&](const track_spec& track, std::uint32_t count, bool silent) {
        for (std::uint32_t i = 0; i < count; ++i, ++lba) {
            const audio_content content = silent ? audio_content::silence : spec.audio;
            const std::size_t n = file_form(lba, track, file.big_endian, content, sector.data());
            file.out.write(reinterpret_cast<const char*>(sector.data()),
                           static_cast<std::streamsize>(n));
            file.sector_indexes.push_back(disc.sectors.size());
            disc.sectors.push_back({track.mode, false, file.big_endian, silent, 0});
        }
        file.frames += count;
    };
    auto generated = [&](const track_spec& track, std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i, ++lba) {
            disc.sectors.push_back({track.mode, true, false, false, 0});
        }
    };
    auto next_file = [&](const track_spec& track) {
        finish_file(file, disc);
        file = file_writer{};
        static constexpr const char* extensions[] = {"bin", "wav", "aiff"};
        char name[64];
        std::snprintf(name, sizeof name, "%s-%02d.%s", spec.name.c_str(), ++file_number,
                      extensions[static_cast<int>(spec.format)]);
        file.path = folder / name;
        file.format = spec.format;
        file.big_endian = spec.format == image_file_format::aiff ||
                          (spec.format == image_file_format::bin && track.motorola);
        file.out.open(file.path, std::ios::binary | std::ios::trunc);
        if (!file.out) {
            throw std::runtime_error(file.path.string() + ": cannot create");
        }
        write_header(file, 0);
        disc.files.push_back(file.path);
        const char* type = spec.format == image_file_format::wav    ? "WAVE"
                           : spec.format == image_file_format::aiff ? "AIFF"
                           : track.motorola                         ? "MOTOROLA"
                                                                    : "BINARY";
        cue += std::string("FILE \"") + name + "\" " + type + "\n";
    };
    int session = 1;
    for (std::size_t t = 0; t < spec.tracks.size(); ++t) {
        const track_spec& track = spec.tracks[t];
        if (t > 0 && track.new_session) {
            // The image holds no gap: the drive puts the session's INDEX 01
            // that far after the last session's lead-out.
            char line[32];
            std::snprintf(line, sizeof line, "REM SESSION %02d\n", ++session);
            cue += line;
            disc.session_leadouts.push_back(lba);
            const std::uint32_t between = session == 2 ? first_session_gap : later_session_gap;
            const std::uint32_t before = track.pregap + track.index0;
            if (before > between) {
                throw std::runtime_error("track " + std::to_string(t + 1) +
                                         ": pregap longer than the gap between sessions");
            }
            for (std::uint32_t i = before; i < between; ++i, ++lba) {
                disc.sectors.push_back({track_mode::audio, true, false, false, 0, true});
            }
        }
        if (track.mode != track_mode::audio && spec.format != image_file_format::bin) {
            throw std::runtime_error("a data track cannot lie in an audio file");
        }
        const bool starts_file = t == 0 || track.new_file;
        const bool appended = starts_file && track.gap_in_previous_file && track.index0 > 0;
        if (starts_file && !(appended && t > 0)) {
            next_file(track);
        }
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02zu %s\n", t + 1, mode_name(track.mode));
        cue += line;
        if (track.pre_emphasis) {
            cue += "    FLAGS PRE\n";
        }
        if (track.pregap > 0) {
            cue += "    PREGAP " + cue_time(track.pregap) + "\n";
            generated(track, track.pregap);
        }
        if (track.index0 > 0) {
            cue += "    INDEX 00 " + cue_time(file.frames) + "\n";
            write_sectors(track, track.index0, spec.silent_gaps);
        }
        if (appended) {
            next_file(track);
        }
        file.cut = std::max(file.cut, track.cut_bytes);
        cue += "    INDEX 01 " + cue_time(file.frames) + "\n";
        disc.starts.push_back(lba);
        write_sectors(track, track.sectors, false);
        if (track.postgap > 0) {
            cue += "    POSTGAP " + cue_time(track.postgap) + "\n";
            generated(track, track.postgap);
        }
    }
    finish_file(file, disc);
    disc.leadout = lba;
    disc.session_leadouts.push_back(lba);
    std::ofstream out(disc.cue, std::ios::binary | std::ios::trunc);
    out << cue;
    out.close();
    if (!out) {
        throw std::runtime_error(disc.cue.string() + ": write failed");
    }
    return disc;
}

void expected_raw_sector(const built_disc& disc, std::uint32_t lba, std::uint8_t* out) {
    const built_sector& s = disc.sectors.at(lba);
    if (s.generated) {
        std::memset(out, 0, raw_sector_bytes);
        if (s.mode != track_mode::audio) {
            write_sector_header(lba, s.mode == track_mode::mode2_2352 ? 2 : 1, out);
        }
        return;
    }
    if (s.silent) {
        std::memset(out, 0, raw_sector_bytes);
    } else {
        test_raw_sector(lba, s.mode, out);
    }
    const std::uint32_t cut = s.cut_bytes;
    for (std::uint32_t i = 0; i < raw_sector_bytes && cut > 0; ++i) {
        if (s.mode == track_mode::mode1_2048) {
            if (i >= mode1_user_at + user_data_bytes - cut && i < mode1_user_at + user_data_bytes) {
                out[i] = 0;
            }
        } else if ((s.big_endian && s.mode == track_mode::audio ? (i ^ 1U) : i) >=
                   raw_sector_bytes - cut) {
            out[i] = 0;
        }
    }
}

void expected_user_data(const built_disc& disc, std::uint32_t lba, std::uint8_t* out) {
    std::array<std::uint8_t, raw_sector_bytes> raw{};
    expected_raw_sector(disc, lba, raw.data());
    const bool mode2 = disc.sectors.at(lba).mode == track_mode::mode2_2352;
    std::memcpy(out, raw.data() + (mode2 ? mode2_user_at : mode1_user_at), user_data_bytes);
}

bool parse_track_spec(const std::string& text, track_spec& track, std::string& error) {
    track = track_spec{};
    const std::size_t colon = text.find(':');
    const std::string mode = text.substr(0, colon);
    if (mode == "audio") {
        track.mode = track_mode::audio;
    } else if (mode == "mode1") {
        track.mode = track_mode::mode1_2352;
    } else if (mode == "mode1/2048") {
        track.mode = track_mode::mode1_2048;
    } else if (mode == "mode2") {
        track.mode = track_mode::mode2_2352;
    } else {
        error = "unknown track mode \"" + mode + "\" (audio, mode1, mode1/2048, mode2)";
        return false;
    }
    if (colon == std::string::npos) {
        error = "missing sector count in \"" + text + "\"";
        return false;
    }
    std::string rest = text.substr(colon + 1);
    bool first = true;
    while (!rest.empty() || first) {
        const std::size_t comma = rest.find(',');
        const std::string item = rest.substr(0, comma);
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
        const std::size_t equals = item.find('=');
        const std::string key = first ? "sectors" : item.substr(0, equals);
        const std::string value =
            first ? item : (equals == std::string::npos ? "" : item.substr(equals + 1));
        first = false;
        auto number = [&](std::uint32_t& field) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n > 0xffffffUL) {
                error = "bad number in \"" + item + "\"";
                return false;
            }
            field = static_cast<std::uint32_t>(n);
            return true;
        };
        bool ok = true;
        if (key == "sectors") {
            ok = number(track.sectors) && track.sectors > 0;
            if (!ok && error.empty()) {
                error = "a track needs at least one sector";
            }
        } else if (key == "index0") {
            ok = number(track.index0);
        } else if (key == "pregap") {
            ok = number(track.pregap);
        } else if (key == "postgap") {
            ok = number(track.postgap);
        } else if (key == "cut") {
            ok = number(track.cut_bytes);
        } else if (key == "file") {
            track.new_file = true;
        } else if (key == "appended") {
            track.new_file = track.gap_in_previous_file = true;
        } else if (key == "motorola") {
            track.new_file = track.motorola = true;
        } else if (key == "pre") {
            track.pre_emphasis = true;
        } else if (key == "session") {
            track.new_session = true;
        } else {
            error = "unknown track option \"" + key + "\"";
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}
