// vorka-mkimage: writes a test disc (CUE sheet and BIN files) into a folder.

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "common/exit.h"
#include "common/program_name.h"
#include "image/disc_builder.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: %s [--music | --silence] [--wav | --aiff] [--silent-gaps] [--name NAME]\n"
                 "       FOLDER TRACK...\n"
                 "  TRACK is MODE:SECTORS[,OPTION...]\n"
                 "  MODE: audio, mode1 (MODE1/2352), mode1/2048, mode2 (MODE2/2352)\n"
                 "  OPTION: index0=N (pregap in the file), pregap=N (PREGAP), postgap=N,\n"
                 "          file (start a new file), appended (a new file after INDEX 00),\n"
                 "          motorola (new big-endian BIN), pre (FLAGS PRE),\n"
                 "          cut=N (the file ends N bytes early),\n"
                 "          session (the track starts the next session: an enhanced CD)\n"
                 "  Audio is a test pattern of the sector address unless --music or --silence;\n"
                 "  --silent-gaps makes INDEX 00 audio silence.  --wav, --aiff: audio files\n"
                 "  instead of BIN files (audio tracks only).\n"
                 "  Prints the path of the cue sheet.\n",
                 program_name);
    throw exit_request{1};
}

int body(int argc, char** argv) {
    set_program_name(argv[0]);
    disc_spec spec;
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        if (std::strcmp(argv[at], "--music") == 0) {
            spec.audio = audio_content::music;
        } else if (std::strcmp(argv[at], "--silence") == 0) {
            spec.audio = audio_content::silence;
        } else if (std::strcmp(argv[at], "--wav") == 0) {
            spec.format = image_file_format::wav;
        } else if (std::strcmp(argv[at], "--aiff") == 0) {
            spec.format = image_file_format::aiff;
        } else if (std::strcmp(argv[at], "--silent-gaps") == 0) {
            spec.silent_gaps = true;
        } else if (std::strcmp(argv[at], "--name") == 0 && at + 1 < argc) {
            spec.name = argv[++at];
        } else {
            usage();
        }
    }
    if (argc - at < 2) {
        usage();
    }
    const char* folder = argv[at++];
    for (; at < argc; ++at) {
        track_spec track;
        std::string error;
        if (!parse_track_spec(argv[at], track, error)) {
            std::fprintf(stderr, "%s: %s\n", program_name, error.c_str());
            throw exit_request{1};
        }
        spec.tracks.push_back(track);
    }
    try {
        const built_disc disc = build_disc(folder, spec);
        std::printf("%s\n", disc.cue.c_str());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s: %s\n", program_name, failure.what());
        throw exit_request{1};
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return run_main(body, argc, argv);
}
