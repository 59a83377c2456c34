#include "sum/sum_main.h"

#include <getopt.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/exit.h"
#include "common/program_name.h"
#include "common/write_all.h"
#include "drive/open_drive.h"
#include "scsi/channel.h"
#include "scsi/toc.h"
#include "sum/ar_database.h"
#include "sum/audio_file.h"
#include "sum/disc_ids.h"
#include "sum/disc_layout.h"
#include "sum/offset_search.h"
#include "sum/track_sums.h"

namespace {

constexpr std::size_t toc_response_bytes = 2048;
constexpr int offsets_option = 256;  // --offsets has no short form

void print_usage(std::FILE* to) {
    std::fprintf(to,
                 "Usage:  %s [-d device] [-f format] [-t track] [-a entry] [file ...]\n"
                 "        %s [-d device] -a entry --offsets disc-file\n",
                 program_name, program_name);
    std::fputs(
        "   -d device      CD drive or CUE sheet              [/dev/cd0c]\n"
        "   -f format      wav, aiff, au, flac, pcm or mcp    [by header]\n"
        "   -t track       the track of the first file        [first audio track]\n"
        "   -a entry       check against this AccurateRip database entry\n"
        "                  (also --accuraterip entry)\n"
        "   --offsets      find the drive's read offset: the one file holds the whole disc\n"
        "   -h             this text\n"
        "Prints the disc's freedb, MusicBrainz and AccurateRip identifiers, then for\n"
        "each file: track, samples, CRC32, AccurateRip v1 and v2 checksums, file name.\n",
        to);
}

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program_name, message.c_str());
    print_usage(stderr);
    throw exit_request{1};
}

void print_line(const std::string& line) {
    write_all(STDOUT_FILENO, line.data(), line.size(), "write()");
}

std::string hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

int parse_track_number(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < 1 || value > 99) {
        usage_error(std::string("-t needs a track number from 1 to 99, not \"") + text + "\"");
    }
    return static_cast<int>(value);
}

// The option getopt stopped at: the letter, or the long option as given.
std::string option_text(const char* argument) {
    if (optopt != 0 && optopt < offsets_option) {
        return std::string("-") + static_cast<char>(optopt);
    }
    return argument;
}

disc_layout read_disc_layout(const std::string& device_path) {
    const std::unique_ptr<scsi_device> device = open_drive(device_path);
    scsi_command(*device, read_toc_cdb(), toc_response_bytes, data_direction::in);
    track_table table;
    parse_track_table(device->transfer_buffer.data(), table);
    read_audio_session_end(*device, table);
    scsi_close(*device);
    disc_layout layout;
    std::string error;
    if (!make_disc_layout(table, layout, error)) {
        std::fprintf(stderr, "%s: %s: %s\n", program_name, device_path.c_str(), error.c_str());
        throw exit_request{1};
    }
    return layout;
}

// The four identifier lines; false when the MusicBrainz ID could not be had.
bool print_identifiers(const disc_layout& layout, const accuraterip_ids& ids) {
    print_line("freedb " + hex8(ids.freedb) + "\n");
    std::string error;
    const std::string musicbrainz = musicbrainz_id(layout, error);
    if (musicbrainz.empty()) {
        std::fprintf(stderr, "%s: no MusicBrainz disc ID: %s\n", program_name, error.c_str());
    } else {
        print_line("musicbrainz " + musicbrainz + "\n");
    }
    print_line("accuraterip " + accuraterip_name(ids) + "\n");
    print_line("accuraterip-url " + accuraterip_url(ids) + "\n");
    return !musicbrainz.empty();
}

std::optional<audio_format> chosen_format(const sum_settings& settings) {
    if (settings.format.empty()) {
        return std::nullopt;
    }
    return audio_format_named(settings.format.c_str());
}

bool has_track_length(audio_file& file, const disc_layout& layout, int track) {
    const std::uint64_t expected = layout.frames(track);
    if (!file.length_known()) {
        file.expect_frames(expected);  // the stream's end tells whether it has them
    }
    if (file.frames() == expected) {
        return true;
    }
    std::fprintf(stderr, "%s: %s: %" PRIu64 " samples, but track %d has %" PRIu64 "\n",
                 program_name, file.path().c_str(), file.frames(), track, expected);
    return false;
}

// One file: its track line and, with an entry, its verify line.  false when
// the file could not be summed or does not match.
bool check_file(const std::string& path, int track, const sum_settings& settings,
                const disc_layout& layout, const std::vector<ar_block>* blocks) {
    const std::unique_ptr<audio_file> file = audio_file::open(path, chosen_format(settings));
    if (file == nullptr || !has_track_length(*file, layout, track)) {
        return false;
    }
    const int position = layout.audio_position(track);
    const counted_positions counted =
        accuraterip_positions(file->frames(), position == 1, position == layout.audio_tracks);
    track_sums sums;
    if (!sum_track(*file, counted, sums) || !file->finish()) {
        return false;
    }
    print_line("track " + std::to_string(track) + " " + std::to_string(file->frames()) + " " +
               hex8(sums.crc32) + " " + hex8(sums.v1) + " " + hex8(sums.v2) + " " + path + "\n");
    if (blocks == nullptr) {
        return true;
    }
    const ar_match match = match_track(*blocks, position, sums.v1, sums.v2);
    print_line("verify " + std::to_string(track) + (match.matched() ? " match " : " mismatch ") +
               std::to_string(match.v1_confidence) + " " + std::to_string(match.v2_confidence) +
               "\n");
    return match.matched();
}

bool check_files(const sum_settings& settings, const disc_layout& layout,
                 const std::vector<ar_block>* blocks) {
    const int first = settings.first_track > 0 ? settings.first_track : layout.first_audio;
    const int last = first + static_cast<int>(settings.files.size()) - 1;
    if (first < layout.first_audio && !settings.files.empty()) {
        std::fprintf(stderr, "%s: track %d is a data track; the audio tracks are %d to %d\n",
                     program_name, first, layout.first_audio, layout.last_audio());
        throw exit_request{1};
    }
    if (last > layout.last_audio()) {
        std::fprintf(stderr, "%s: %zu %s from track %d on, but the disc has %d audio tracks\n",
                     program_name, settings.files.size(),
                     settings.files.size() == 1 ? "file" : "files", first, layout.audio_tracks);
        throw exit_request{1};
    }
    bool all_good = true;
    for (std::size_t i = 0; i < settings.files.size(); ++i) {
        const int track = first + static_cast<int>(i);
        all_good = check_file(settings.files[i], track, settings, layout, blocks) && all_good;
    }
    return all_good;
}

bool report_offsets(const sum_settings& settings, const disc_layout& layout,
                    const std::vector<ar_block>& blocks) {
    const std::unique_ptr<audio_file> stream =
        audio_file::open(settings.files.front(), chosen_format(settings));
    if (stream == nullptr) {
        return false;
    }
    if (stream->is_pipe()) {
        // The search reads the disc's audio many times over.
        std::fprintf(stderr,
                     "%s: %s: not a regular file (--offsets reads the file more than once)\n",
                     program_name, stream->path().c_str());
        return false;
    }
    if (stream->frames() != layout.audio_frames()) {
        std::fprintf(stderr, "%s: %s: %" PRIu64 " samples, but the disc's audio has %" PRIu64 "\n",
                     program_name, stream->path().c_str(), stream->frames(), layout.audio_frames());
        return false;
    }
    std::vector<offset_hit> hits;
    if (!find_offsets(*stream, layout, blocks, hits)) {
        return false;
    }
    bool every_track = false;
    for (const offset_hit& hit : hits) {
        char line[64];
        std::snprintf(line, sizeof line, "offset %+d %d %d %d\n", hit.offset, hit.v1_tracks,
                      hit.v2_tracks, layout.audio_tracks);
        print_line(line);
        every_track = every_track || hit.v1_tracks == layout.audio_tracks;
    }
    if (!every_track) {
        std::fprintf(stderr, "%s: no read offset from -%d to +%d matches every track\n",
                     program_name, max_read_offset, max_read_offset);
    }
    return every_track;
}

}  // namespace

sum_settings parse_sum_options(int argc, char** argv) {
    if (argc < 2) {
        print_usage(stderr);
        throw exit_request{1};
    }
    static const option long_options[] = {
        {"accuraterip", required_argument, nullptr, 'a'},
        {"offsets", no_argument, nullptr, offsets_option},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    sum_settings settings;
    bool track_given = false;
    bool device_given = false;
    opterr = 0;  // the messages below name the program as every other message does
    optind = 0;  // a fresh scan, also when a test parses twice
    for (;;) {
        const int option = getopt_long(argc, argv, ":d:f:t:a:h", long_options, nullptr);
        if (option == -1) {
            break;
        }
        switch (option) {
            case 'd':
                settings.device_path = optarg;
                device_given = true;
                break;
            case 'f':
                if (!audio_format_named(optarg)) {
                    usage_error(std::string("unknown format \"") + optarg +
                                "\" (wav, aiff, au, flac, pcm or mcp)");
                }
                settings.format = optarg;
                break;
            case 't':
                settings.first_track = parse_track_number(optarg);
                track_given = true;
                break;
            case 'a':
                settings.entry_path = optarg;
                break;
            case offsets_option:
                settings.offsets = true;
                break;
            case 'h':
                print_usage(stdout);
                if (std::fflush(stdout) != 0) {
                    exit_with_errno("write()");
                }
                throw exit_request{0};
            case ':':
                usage_error("option " + option_text(argv[optind - 1]) + " needs an argument");
            default:
                usage_error("unknown option " + option_text(argv[optind - 1]));
        }
    }
    settings.files.assign(argv + optind, argv + argc);
    if (settings.offsets &&
        (settings.entry_path.empty() || settings.files.size() != 1 || track_given)) {
        usage_error("--offsets needs -a entry and exactly one file, the whole disc, and no -t");
    }
    if (!settings.entry_path.empty() && settings.files.empty()) {
        usage_error("-a needs the files of the tracks to check");
    }
    if (!device_given) {
        settings.device_path = default_drive_path(settings.device_path);
    }
    return settings;
}

int sum_main(int argc, char** argv) {
    // A program started with an empty argument vector still names itself.
    set_program_name(argc > 0 ? argv[0] : "vorkasum");
    const sum_settings settings = parse_sum_options(argc, argv);
    const disc_layout layout = read_disc_layout(settings.device_path);
    const accuraterip_ids ids = accuraterip_disc_ids(layout);
    bool good = print_identifiers(layout, ids);
    std::vector<ar_block> blocks;
    if (!settings.entry_path.empty()) {
        blocks = load_ar_entry(settings.entry_path, ids);
    }
    if (settings.offsets) {
        good = report_offsets(settings, layout, blocks) && good;
    } else {
        good =
            check_files(settings, layout, settings.entry_path.empty() ? nullptr : &blocks) && good;
    }
    return good ? 0 : 1;
}
