// vorka -f flac on generated disc images, checked with the flac tools.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/end_to_end_test_util.h"

namespace {

// An enhanced CD of music: three audio tracks, then a data track.
disc_spec enhanced_music_disc() {
    disc_spec spec;
    spec.name = "music";
    spec.audio = audio_content::music;
    spec.tracks = {{track_mode::audio, 100},
                   {track_mode::audio, 150},
                   {track_mode::audio, 75},
                   {track_mode::mode1_2352, 50}};
    return spec;
}

class vorka_flac : public vorka_on_image {
  protected:
    void SetUp() override {
        vorka_on_image::SetUp();
        fs::create_directory(work / "music");
        disc = build_disc(work / "music", enhanced_music_disc());
    }

    // The image's samples, straight from its BIN file.
    bytes audio(std::uint32_t first, std::uint32_t end) const {
        const bytes bin = read_bytes(work / "music" / "music-01.bin");
        return bytes(bin.begin() + first * 2352, bin.begin() + end * 2352);
    }
    bytes audio_track(int number) const {
        return audio(disc.starts[number - 1], disc.starts[number]);
    }

    // The audio of a FLAC file as little-endian samples, decoded by flac.
    bytes decoded(const std::string& flac_file) const {
        const std::string raw = flac_file + ".raw";
        const run_result r =
            run_program({"/usr/bin/flac", "-d", "--silent", "--force-raw-format", "--endian=little",
                         "--sign=signed", "-f", "-o", raw, flac_file});
        EXPECT_EQ(r.status, 0) << r.err;
        return read_bytes(raw);
    }

    static std::string metaflac(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/metaflac"};
        argv.insert(argv.end(), args.begin(), args.end());
        const run_result r = run_program(argv);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    // The value of one of vorkasum's identifier lines for the disc.
    std::string vorkasum_line(const std::string& name) const {
        const run_result r = run_program({program_path("vorkasum"), "-d", disc.cue.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        for (const std::string& line : split_lines(r.out)) {
            if (line.starts_with(name + " ")) {
                return line.substr(name.size() + 1);
            }
        }
        return "";
    }
};

TEST_F(vorka_flac, per_track_files_hold_the_tracks_and_the_disc_tags) {
    const std::string log = out("scsi.log");
    const run_result r = vorka({"-f", "flac", "-o", out("t%02d.%s")}, {"VORKA_SCSI_LOG=" + log});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("vorka: Track 4 is a data track; not written as FLAC.\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(out("t04.flac")));

    const std::string musicbrainz = vorkasum_line("musicbrainz");
    const std::string accuraterip = vorkasum_line("accuraterip");
    ASSERT_EQ(musicbrainz.size(), 28u);
    for (int t = 1; t <= 3; ++t) {
        const std::string name = out("t0" + std::to_string(t) + ".flac");
        EXPECT_EQ(run_program({"/usr/bin/flac", "-t", "--silent", name}).status, 0) << name;
        EXPECT_EQ(decoded(name), audio_track(t)) << name;
        const std::string listed = metaflac({"--list", "--block-type=VORBIS_COMMENT", name});
        const std::string tags[] = {"TRACKNUMBER=" + std::to_string(t), "TRACKTOTAL=3",
                                    "MUSICBRAINZ_DISCID=" + musicbrainz,
                                    "ACCURATERIP_ID=" + accuraterip};
        for (int i = 0; i < 4; ++i) {
            const std::string line = "comment[" + std::to_string(i) + "]: " + tags[i] + "\n";
            EXPECT_NE(listed.find(line), std::string::npos) << name << "\n" << listed;
        }
        EXPECT_NE(metaflac({"--show-md5sum", name}), std::string(32, '0') + "\n");
    }

    // The data track is neither read nor written: the drive gets the
    // commands of the audio tracks alone.
    const std::string flac_commands = read_file(log);
    fs::remove(log);
    EXPECT_EQ(
        vorka({"-q", "-t", "1-3", "-f", "wav", "-o", out("w%02d.%s")}, {"VORKA_SCSI_LOG=" + log})
            .status,
        0);
    EXPECT_EQ(flac_commands, read_file(log));

    // vorkasum sums the FLAC files as it sums the WAV files of that rip.
    const auto sums = [&](const std::string& name, const std::string& extension) {
        std::vector<std::string> argv{program_path("vorkasum"), "-d", disc.cue.string()};
        for (int t = 1; t <= 3; ++t) {
            argv.push_back(out(name + "0" + std::to_string(t) + "." + extension));
        }
        const run_result r = run_program(argv);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string track_lines;
        for (const std::string& line : split_lines(r.out)) {
            if (line.starts_with("track ")) {
                track_lines += line.substr(0, line.rfind(' ')) + "\n";  // without the name
            }
        }
        return track_lines;
    };
    const std::string flac_sums = sums("t", "flac");
    EXPECT_EQ(split_lines(flac_sums).size(), 3u) << flac_sums;
    EXPECT_EQ(flac_sums, sums("w", "wav"));
}

TEST_F(vorka_flac, one_stream_holds_the_selected_audio_without_the_data_track) {
    const std::string md5_unset = std::string(32, '0') + "\n";
    const bytes selected = audio_track(2) + audio_track(3);

    // -q silences the data track's message too.
    run_result r = vorka({"-q", "-t", "2-4", "-f", "flac", "-o", out("all.%s")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(decoded(out("all.flac")), selected);
    EXPECT_EQ(metaflac({"--show-total-samples", out("all.flac")}), "132300\n");
    EXPECT_NE(metaflac({"--show-md5sum", out("all.flac")}), md5_unset);
    EXPECT_EQ(metaflac({"--show-tag=TRACKNUMBER", out("all.flac")}), "");

    // Standard output is written straight through: the planned length is
    // there from the start, the signature is left unset.
    r = vorka({"-q", "-t", "2-4", "-f", "flac", "-o", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    write_file(work / "stream.flac", r.out);
    EXPECT_EQ(decoded(out("stream.flac")), selected);
    EXPECT_EQ(metaflac({"--show-total-samples", out("stream.flac")}), "132300\n");
    EXPECT_EQ(metaflac({"--show-md5sum", out("stream.flac")}), md5_unset);

    r = vorka({"-q", "-s", "50", "-e", "149", "-f", "flac", "-o", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    write_file(work / "range.flac", r.out);
    EXPECT_EQ(decoded(out("range.flac")), audio(50, 150));

    // A range that begins in the data track holds no audio.
    r = vorka({"-s", "330", "-e", "339", "-f", "flac", "-o", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("vorka: Track 4 is a data track; not written as FLAC.\n"),
              std::string::npos)
        << r.err;
    write_file(work / "data.flac", r.out);
    EXPECT_EQ(decoded(out("data.flac")), bytes{});
}

// A failed write ends the run with one message that names the file.
TEST_F(vorka_flac, a_failed_write_is_reported_once_with_the_file_name) {
    const std::string cue = disc.cue.string();
    const std::string vorka_path = program_path("vorka");
    const std::string home_setting = "HOME=" + home.path().string();
    const struct {
        std::string script;
        std::string message;
    } cases[] = {
        {"exec \"$0\" -q -d \"$1\" -f flac -t 1 -o /dev/full",
         "vorka: /dev/full: No space left on device\n"},
        // A regular file that cannot grow: the stream already written fails.
        {"ulimit -f 20; trap '' XFSZ; exec \"$0\" -q -d \"$1\" -f flac -o \"$2\"",
         "vorka: " + out("t01.flac") + ": File too large\n"},
        // Standard output on a pipe whose reader has gone, SIGPIPE ignored.
        {"trap '' PIPE; (\"$0\" -q -d \"$1\" -f flac -o - 2>\"$3\"; echo $? >\"$3.status\") | "
         "true; cat \"$3\" >&2; exit $(cat \"$3.status\")",
         "vorka: standard output: Broken pipe\n"},
    };
    for (const auto& c : cases) {
        const run_result r =
            run_program({"/bin/sh", "-c", c.script, vorka_path, cue, out("t%02d.%s"), out("err")},
                        {home_setting});
        EXPECT_EQ(r.status, 1) << c.script;
        EXPECT_EQ(r.err, c.message) << c.script;
    }
}

// A run that ends early keeps every sector it read, in a complete file:
// the track cut short by a read failure decodes to the sectors before the
// failed read, and its header tells that length and the signature.
TEST_F(vorka_flac, a_file_cut_short_by_a_failed_read_is_complete) {
    const run_result r = vorka({"-q", "-t", "1-2", "-f", "flac", "-o", out("t%02d.%s")},
                               {"VORKA_IMAGE_MEDIUM_ERRORS=200"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unrecovered read error"), std::string::npos) << r.err;
    EXPECT_EQ(decoded(out("t01.flac")), audio_track(1));
    const std::string cut = out("t02.flac");
    EXPECT_EQ(run_program({"/usr/bin/flac", "-t", "--silent", cut}).status, 0);
    // Chunks of 26 sectors from sector 100: the one holding sector 200
    // begins at 178.
    EXPECT_EQ(decoded(cut), audio(100, 178));
    EXPECT_EQ(metaflac({"--show-total-samples", cut}), std::to_string(78 * 588) + "\n");
    EXPECT_NE(metaflac({"--show-md5sum", cut}), std::string(32, '0') + "\n");
}

// An interrupt reaches the reading thread while it waits on a pipe that
// nobody reads, and the run ends by the signal as with every format.
TEST_F(vorka_flac, an_interrupt_stops_a_stream_blocked_on_a_full_pipe) {
    const std::string fifo = out("fifo");
    ASSERT_EQ(run_program({"/usr/bin/mkfifo", fifo}).status, 0);
    const run_result r = run_program(
        {"/bin/sh", "-c",
         "exec 3<>\"$2\"; \"$0\" -q -d \"$1\" -f flac -o \"$2\" & p=$!; sleep 1; kill -TERM $p; "
         "wait $p; echo $?",
         program_path("vorka"), disc.cue.string(), fifo},
        {"HOME=" + home.path().string()});
    EXPECT_EQ(r.out, "143\n") << r.err;
}

}  // namespace
