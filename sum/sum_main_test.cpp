// The built vorkasum on generated disc images and files, through its
// command line, held against the independent computation in
// independent_sums.py.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "common/common_test_util.h"
#include "image/disc_builder.h"
#include "sum/accuraterip.h"
#include "sum/sum_test_util.h"

namespace fs = std::filesystem;

namespace {

std::string source_path(const std::string& relative) {
    const char* root = std::getenv("VORKA_SOURCE_DIR");
    return std::string(root != nullptr ? root : ".") + "/" + relative;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A test-pattern disc of three audio tracks (20, 30 and 25 sectors), with
// a data track behind the session gap when enhanced.
class vorkasum_on_disc : public ::testing::Test {
  protected:
    void build(bool enhanced) {
        disc_spec spec;
        spec.tracks = {{.sectors = 20}, {.sectors = 30}, {.sectors = 25}};
        if (enhanced) {
            spec.tracks.push_back({.mode = track_mode::mode1_2352, .sectors = 40, .pregap = 11400});
        }
        disc = build_disc(dir.path(), spec);
    }
    void SetUp() override { build(false); }

    std::string track_audio(int track) const {
        return pattern_audio(disc.starts[track - 1], track_sectors[track - first_audio]);
    }
    std::string path(const std::string& name) const { return dir / name; }

    // Track files in these formats, from track 1 on; returns their paths.
    std::vector<std::string> write_tracks(const std::vector<std::string>& formats) {
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < formats.size(); ++i) {
            paths.push_back(path("track" + std::to_string(i + 1) + "." + formats[i]));
            write_file(paths.back(), as_format(formats[i], track_audio(static_cast<int>(i) + 1)));
        }
        return paths;
    }

    run_result vorkasum(std::vector<std::string> args,
                        const std::vector<std::string>& environment = {}) {
        args.insert(args.begin(), {"vorkasum", "-d", disc.cue.string()});
        return run_program(args, environment);
    }

    // What the independent computation prints for this disc and, with the
    // files given, their tracks (raw little-endian copies under the same
    // names in a folder of their own).
    std::string independent(const std::vector<std::string>& files, const char* kind = nullptr) {
        // Debian's python3, which .ci/run installs.
        std::vector<std::string> args = {"/usr/bin/python3",
                                         source_path("sum/independent_sums.py")};
        if (kind != nullptr) {
            args.push_back(kind);
        } else if (disc.starts.size() == 4) {
            args.push_back("--enhanced");
        }
        for (std::uint32_t start : disc.starts) {
            args.push_back(std::to_string(start));
        }
        args.push_back(std::to_string(disc.leadout));
        args.push_back("--");
        fs::create_directory(dir / "raw");
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string raw = (dir / "raw" / fs::path(files[i]).filename()).string();
            write_file(raw, track_audio(static_cast<int>(i) + first_audio));
            args.push_back(raw);
        }
        const run_result run = run_program(args);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string out = run.out;
        const std::string raw_folder = (dir / "raw").string() + "/";
        for (std::size_t at; (at = out.find(raw_folder)) != std::string::npos;) {
            out.replace(at, raw_folder.size(), dir.path().string() + "/");
        }
        return out;
    }

    // An entry holding the disc's true sums: a v1 block (confidence 12)
    // and a v2 block (confidence 5), with track `wrong` altered in both.
    std::string write_entry(int wrong = 0) {
        const disc_layout layout = layout_of_disc();
        std::vector<test_ar_track> v1;
        std::vector<test_ar_track> v2;
        for (int track = 1; track <= 3; ++track) {
            const std::string audio = track_audio(track);
            std::vector<std::uint32_t> frames(audio.size() / 4);
            std::memcpy(frames.data(), audio.data(), audio.size());
            accuraterip_sum sum(accuraterip_positions(frames.size(), track == 1, track == 3));
            sum.add(frames.data(), frames.size());
            const std::uint32_t change = track == wrong ? 1 : 0;
            v1.push_back({12, sum.v1() + change});
            v2.push_back({5, sum.v2() + change});
        }
        const accuraterip_ids ids = accuraterip_disc_ids(layout);
        const std::string entry = path("dBAR-" + accuraterip_name(ids) + ".bin");
        write_file(entry, ar_block_bytes(ids, v1) + ar_block_bytes(ids, v2));
        return entry;
    }

    disc_layout layout_of_disc() const {
        track_table table;
        table.track_count = static_cast<int>(disc.starts.size());
        for (std::size_t i = 0; i < disc.starts.size(); ++i) {
            table.track_start[i] = disc.starts[i];
            table.track_type[i] = i == 3 ? 0x14 : 0x10;
        }
        table.track_start[disc.starts.size()] = disc.leadout;
        return layout_of(table);
    }

    temp_dir dir;
    built_disc disc;
    const std::uint32_t track_sectors[3] = {20, 30, 25};
    int first_audio = 1;  // the track of track_sectors[0]
};

TEST_F(vorkasum_on_disc, prints_what_the_independent_computation_gives) {
    for (bool enhanced : {false, true}) {
        build(enhanced);
        const std::vector<std::string> files = write_tracks({"wav", "aiff", "au"});
        const std::string expected = independent(files);
        EXPECT_EQ(lines_of(expected).size(), 7u) << expected;
        run_result run = vorkasum({});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, expected.substr(0, run.out.size()));
        EXPECT_EQ(lines_of(run.out).size(), 4u);
        run = vorkasum(files);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, expected) << (enhanced ? "enhanced" : "audio");
    }
    // The values the independent computation must give for this disc, as
    // Debian's whipper gives them.
    build(false);
    const std::string known = independent(write_tracks({"wav", "wav", "wav"}));
    EXPECT_EQ(lines_of(known)[2], "accuraterip 003-00000091-000001eb-06000103");
    EXPECT_EQ(lines_of(known)[4].substr(0, 40), "track 1 11760 c9a7b3bd bd7caf91 bf6b2098");
}

TEST_F(vorkasum_on_disc, reads_raw_pcm_in_the_byte_order_given) {
    const std::string expected = independent(write_tracks({"wav", "wav", "wav"}));
    for (const char* format : {"pcm", "mcp"}) {
        const std::vector<std::string> files = write_tracks({format, format, format});
        const run_result run = vorkasum({"-f", format, files[0], files[1], files[2]});
        EXPECT_EQ(run.status, 0) << run.err;
        std::string out = run.out;
        for (std::size_t at;
             (at = out.find(std::string(".") + format + "\n")) != std::string::npos;) {
            out.replace(at, std::strlen(format) + 1, ".wav");
        }
        EXPECT_EQ(out, expected) << format;
    }
    // Without -f a raw file is refused: it has no header to go by.
    const run_result run = vorkasum({path("track1.mcp")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "vorkasum: " + path("track1.mcp") +
                  ": not a WAV, AIFF, AU or FLAC file (give -f pcm or -f mcp for raw PCM)\n");
}

TEST_F(vorkasum_on_disc, reports_bad_files_and_still_sums_the_others) {
    const std::vector<std::string> files = write_tracks({"wav", "wav", "wav"});
    std::string shorter = read_file(files[1]);
    shorter.resize(shorter.size() - 4);
    write_file(files[1], shorter);
    fs::remove(files[2]);
    const run_result run = vorkasum(files);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: " + files[1] + ": 17639 samples, but track 2 has 17640\n" +
                           "vorkasum: " + files[2] + ": No such file or directory\n");
    const auto lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    EXPECT_EQ(lines[4], "track 1 11760 c9a7b3bd bd7caf91 bf6b2098 " + files[0]);
}

TEST_F(vorkasum_on_disc, the_first_track_option_places_the_files) {
    const std::vector<std::string> files = write_tracks({"wav", "wav", "wav"});
    const auto all = lines_of(vorkasum(files).out);
    run_result run = vorkasum({"-t", "2", files[1], files[2]});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lines_of(run.out),
              (std::vector<std::string>{all[0], all[1], all[2], all[3], all[5], all[6]}));
    run = vorkasum({"-t", "3", files[1], files[2]});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: 2 files from track 3 on, but the disc has 3 audio tracks\n");
    run = vorkasum({"-t", "4", files[0]});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: 1 file from track 4 on, but the disc has 3 audio tracks\n");
}

TEST_F(vorkasum_on_disc, checks_the_tracks_against_a_database_entry) {
    const std::vector<std::string> files = write_tracks({"wav", "wav", "wav"});
    const std::string entry = write_entry();
    run_result run = vorkasum({"--accuraterip", entry, files[0], files[1], files[2]});
    EXPECT_EQ(run.status, 0) << run.err;
    auto lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 10u) << run.out;
    EXPECT_EQ(lines[5], "verify 1 match 12 5");
    EXPECT_EQ(lines[7], "verify 2 match 12 5");
    EXPECT_EQ(lines[9], "verify 3 match 12 5");

    run = vorkasum({"-a", write_entry(2), files[0], files[1], files[2]});
    EXPECT_EQ(run.status, 1);
    lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 10u) << run.out;
    EXPECT_EQ(lines[7], "verify 2 mismatch 0 0");
    EXPECT_EQ(lines[9], "verify 3 match 12 5");
}

TEST_F(vorkasum_on_disc, refuses_entries_it_cannot_use_after_printing_the_identifiers) {
    const std::vector<std::string> files = write_tracks({"wav", "wav", "wav"});
    const std::string entry = write_entry();
    const std::string good = read_file(entry);
    const std::string cut = path("cut.bin");
    write_file(cut, good.substr(0, good.size() - 1));
    std::string foreign = good;
    foreign[1] ^= 1;  // id1
    const std::string other = path("other.bin");
    write_file(other, foreign);
    const struct {
        std::string entry;
        std::string message;
    } cases[] = {
        {cut, cut + ": the AccurateRip entry is truncated: the block at byte 40 needs 40 bytes, "
                    "39 are left"},
        {other, other + ": the AccurateRip entry is for another disc: the block at byte 0 is for "
                        "003-00000090-000001eb-06000103, this disc is "
                        "003-00000091-000001eb-06000103"},
        {path("none.bin"), path("none.bin") + ": No such file or directory"},
    };
    for (const auto& c : cases) {
        const run_result run = vorkasum({"-a", c.entry, files[0]});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "vorkasum: " + c.message + "\n");
        EXPECT_EQ(lines_of(run.out).size(), 4u) << run.out;
    }
}

TEST_F(vorkasum_on_disc, finds_the_read_offset_of_a_whole_disc_stream) {
    const std::string entry = write_entry();
    std::string audio = track_audio(1) + track_audio(2) + track_audio(3);
    // A drive that reads 6 samples late: every sample arrives 6 places on.
    const std::string stream = std::string(24, '\0') + audio.substr(0, audio.size() - 24);
    write_file(path("disc.wav"), as_format("wav", stream));
    run_result run = vorkasum({"-a", entry, "--offsets", path("disc.wav")});
    EXPECT_EQ(run.status, 0) << run.err;
    auto lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    EXPECT_EQ(lines[4], "offset +6 3 3 3");

    // An entry of other audio matches at no offset.
    write_file(path("other.wav"), as_format("wav", swapped(stream)));
    run = vorkasum({"-a", entry, "--offsets", path("other.wav")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lines_of(run.out).size(), 4u);
    EXPECT_EQ(run.err, "vorkasum: no read offset from -2940 to +2940 matches every track\n");

    write_file(path("short.wav"), as_format("wav", stream.substr(4)));
    run = vorkasum({"-a", entry, "--offsets", path("short.wav")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: " + path("short.wav") +
                           ": 44099 samples, but the disc's audio has 44100\n");
}

TEST_F(vorkasum_on_disc, checks_what_vorka_rips) {
    // vorka itself rips the image: per-track WAV files and the whole disc
    // as one AU stream, read with the shipped drive configuration.
    temp_dir home;
    write_file(home / ".vorkarc", read_file(source_path("config/vorkarc")));
    const std::vector<std::string> environment = {"HOME=" + home.path().string()};
    run_result rip =
        run_program({"vorka", "-q", "-d", disc.cue.string(), "-f", "wav", "-o", path("rip%02d.%s")},
                    environment);
    ASSERT_EQ(rip.status, 0) << rip.err;
    rip = run_program({"vorka", "-q", "-d", disc.cue.string(), "-f", "au", "-o", path("disc.%s")},
                      environment);
    ASSERT_EQ(rip.status, 0) << rip.err;
    const std::string entry = write_entry();
    run_result run =
        vorkasum({"-a", entry, path("rip01.wav"), path("rip02.wav"), path("rip03.wav")});
    EXPECT_EQ(run.status, 0) << run.err << run.out;
    run = vorkasum({"-a", entry, "--offsets", path("disc.au")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lines_of(run.out).back(), "offset +0 3 3 3");
    // A FLAC file of the disc is searched by seeking in it.
    rip = run_program({"vorka", "-q", "-d", disc.cue.string(), "-f", "flac", "-o", path("disc.%s")},
                      environment);
    ASSERT_EQ(rip.status, 0) << rip.err;
    run = vorkasum({"-a", entry, "--offsets", path("disc.flac")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lines_of(run.out).back(), "offset +0 3 3 3");
}

// vorka's WAV files, and FLAC files that the flac tool makes of them.
class vorkasum_on_flac : public vorkasum_on_disc {
  protected:
    void SetUp() override {
        vorkasum_on_disc::SetUp();
        write_file(home / ".vorkarc", read_file(source_path("config/vorkarc")));
        const run_result rip = run_program(
            {"vorka", "-q", "-d", disc.cue.string(), "-f", "wav", "-o", path("rip%02d.%s")},
            {"HOME=" + home.path().string()});
        ASSERT_EQ(rip.status, 0) << rip.err;
        for (int track = 1; track <= 3; ++track) {
            const std::string wav = path("rip0" + std::to_string(track) + ".wav");
            wavs.push_back(wav);
            flacs.push_back(path("rip0" + std::to_string(track) + ".flac"));
            const run_result made =
                run_program({"/usr/bin/flac", "--silent", "-8", "-o", flacs.back(), wav});
            ASSERT_EQ(made.status, 0) << made.err;
        }
    }

    // The track lines without their file names.
    std::vector<std::string> sums_of(const std::vector<std::string>& files) {
        std::vector<std::string> args = {"-a", write_entry()};
        args.insert(args.end(), files.begin(), files.end());
        const run_result run = vorkasum(args);
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<std::string> lines = lines_of(run.out);
        for (std::string& line : lines) {
            if (line.starts_with("track ")) {
                line.resize(line.rfind(' '));
            }
        }
        return lines;
    }

    temp_dir home;
    std::vector<std::string> wavs;
    std::vector<std::string> flacs;
};

TEST_F(vorkasum_on_flac, prints_the_same_sums_as_for_the_wav_files) {
    const std::vector<std::string> from_wav = sums_of(wavs);
    ASSERT_EQ(from_wav.size(), 10u);
    EXPECT_EQ(sums_of(flacs), from_wav);
    EXPECT_EQ(sums_of({wavs[0], flacs[1], wavs[2]}), from_wav);
    const run_result forced = vorkasum({"-f", "FLAC", flacs[0]});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(lines_of(forced.out).back(), from_wav[4] + " " + flacs[0]);

    // vorka's own FLAC files, and its FLAC stream on standard output (no
    // MD5 signature) through a pipe.
    const std::vector<std::string> environment = {"HOME=" + home.path().string()};
    const run_result rip = run_program(
        {"vorka", "-q", "-d", disc.cue.string(), "-f", "flac", "-o", path("own%02d.%s")},
        environment);
    ASSERT_EQ(rip.status, 0) << rip.err;
    EXPECT_EQ(sums_of({path("own01.flac"), path("own02.flac"), path("own03.flac")}), from_wav);
    const run_result piped = run_program(
        {"/bin/bash", "-c",
         program_path("vorkasum") + " -d " + disc.cue.string() + " -t 3 <(" +
             program_path("vorka") + " -q -d " + disc.cue.string() + " -t 3 -f flac -o -)"},
        environment);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(lines_of(piped.out).back(), from_wav[8] + " /dev/fd/63");
}

TEST_F(vorkasum_on_flac, a_flac_file_whose_audio_does_not_match_its_md5_signature_fails) {
    std::vector<std::uint8_t> bytes = read_bytes(flacs[1]);
    ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "fLaC");
    bytes[26] ^= 0x01;  // STREAMINFO's MD5 signature comes first in what the flac tool writes
    write_file(flacs[1], std::string(bytes.begin(), bytes.end()));
    const run_result run = vorkasum(flacs);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: " + flacs[1] +
                           ": the decoded audio does not match the MD5 signature in the file's "
                           "STREAMINFO\n");
    const std::vector<std::string> lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;  // no line for track 2
    EXPECT_TRUE(lines[4].starts_with("track 1 ")) << lines[4];
    EXPECT_TRUE(lines[5].starts_with("track 3 ")) << lines[5];
}

TEST_F(vorkasum_on_flac, refuses_flac_files_it_cannot_sum) {
    // A track's FLAC with the other track's audio, CD audio of another
    // shape, a cut file.
    const run_result mono =
        run_program({"/usr/bin/flac", "--silent", "-f", "--force-raw-format", "--endian=little",
                     "--sign=signed", "--channels=1", "--bps=16", "--sample-rate=44100", "-o",
                     path("mono.flac"), "-"},
                    {}, wavs[0]);
    ASSERT_EQ(mono.status, 0) << mono.err;
    std::string cut = read_file(flacs[2]);
    cut.resize(cut.size() / 2);
    write_file(path("cut.flac"), cut);
    const run_result run = vorkasum({flacs[1], path("mono.flac"), path("cut.flac")});
    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> errors = lines_of(run.err);
    ASSERT_EQ(errors.size(), 3u) << run.err;
    EXPECT_EQ(errors[0], "vorkasum: " + flacs[1] + ": 17640 samples, but track 1 has 11760");
    EXPECT_EQ(errors[1].substr(0, errors[1].find("FLAC of")),
              "vorkasum: " + path("mono.flac") + ": not CD audio (44100 Hz, 16-bit, stereo PCM): ");
    EXPECT_TRUE(errors[2].starts_with("vorkasum: " + path("cut.flac") + ": ")) << errors[2];
    EXPECT_EQ(lines_of(run.out).size(), 4u) << run.out;  // the identifiers alone
}

// A FIFO, waited for as briefly as the documentation says; the run is
// stopped by `timeout` if it ever hangs instead.
class vorkasum_on_pipes : public vorkasum_on_disc {
  protected:
    run_result vorkasum_guarded(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"/usr/bin/timeout", "20", program_path("vorkasum"), "-d", disc.cue.string()});
        return run_program(args);
    }

    // Writes `contents` into the FIFO once a reader has it open.
    std::thread writer(const std::string& fifo, std::string contents) {
        return std::thread([fifo, contents = std::move(contents)] {
            // A reader that stops early leaves the write with EPIPE; the
            // signal stays with this thread and goes with it.
            sigset_t pipe_signal;
            sigemptyset(&pipe_signal);
            sigaddset(&pipe_signal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
            for (int tries = 0; tries < 2000; ++tries) {
                const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ::fcntl(fd, F_SETFL, 0);
                    (void)!::write(fd, contents.data(), contents.size());
                    ::close(fd);
                    return;
                }
                ::usleep(5000);
            }
        });
    }

    std::string fifo(const std::string& name) {
        const std::string at = path(name);
        EXPECT_EQ(::mkfifo(at.c_str(), 0600), 0);
        return at;
    }

    // Runs a shell command line with vorkasum and vorka on its PATH.
    run_result shell(const std::string& command) {
        const std::string bin = fs::path(program_path("vorkasum")).parent_path().string();
        return run_program({"/bin/bash", "-c", command},
                           {"PATH=" + bin + ":/usr/bin:/bin", "HOME=" + dir.path().string()});
    }
};

TEST_F(vorkasum_on_pipes, a_fifo_without_a_writer_reads_as_empty) {
    const std::string track = fifo("track.wav");
    const run_result run = vorkasum_guarded({track});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: " + track + ": nothing came through the pipe\n");
    EXPECT_EQ(lines_of(run.out).size(), 4u) << run.out;

    const std::string entry = fifo("entry.bin");
    const run_result checked = vorkasum_guarded({"-a", entry, write_tracks({"wav"})[0]});
    EXPECT_EQ(checked.status, 1);
    EXPECT_EQ(checked.err, "vorkasum: " + entry + ": the AccurateRip entry is empty\n");
}

TEST_F(vorkasum_on_pipes, a_fifo_with_a_writer_is_read_to_its_end) {
    const std::vector<std::string> files = write_tracks({"wav", "aiff", "pcm"});
    const std::string from_files = vorkasum({"-f", "wav", files[0]}).out;
    const std::string track = fifo("track.wav");
    const std::string entry = fifo("entry.bin");
    std::thread audio = writer(track, read_file(files[0]));
    std::thread blocks = writer(entry, read_file(write_entry()));
    const run_result run = vorkasum_guarded({"-a", entry, track});
    audio.join();
    blocks.join();
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    EXPECT_EQ(lines[4], lines_of(from_files)[4].substr(0, lines[4].size() - track.size()) + track);
    EXPECT_EQ(lines[5], "verify 1 match 12 5");
}

TEST_F(vorkasum_on_pipes, what_vorka_writes_to_standard_output_is_checked_without_a_file) {
    write_file(dir / ".vorkarc", read_file(source_path("config/vorkarc")));
    const std::vector<std::string> from_files =
        lines_of(vorkasum(write_tracks({"wav", "wav", "wav"})).out);
    const std::string cue = disc.cue.string();
    const std::string rip = "vorka -q -d " + cue + " -o - ";
    run_result run =
        shell("vorkasum -d " + cue + " -t 2 <(" + rip + "-t 2 -f wav) <(" + rip + "-t 3 -f au)");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    ASSERT_EQ(from_files.size(), 7u);
    const auto sums = [](const std::string& line) { return line.substr(0, line.rfind(' ')); };
    EXPECT_EQ(sums(lines[4]), sums(from_files[5]));
    EXPECT_EQ(sums(lines[5]), sums(from_files[6]));

    // Raw PCM has no length but its end: too little, too much.
    write_file(path("track3.pcm"), track_audio(3));
    run = shell("vorkasum -d " + cue + " -f pcm -t 3 <(head -c 1000 " + path("track3.pcm") + ")");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with(": the stream ends after 250 of 14700 samples\n")) << run.err;
    EXPECT_EQ(lines_of(run.out).size(), 4u) << run.out;
    run = shell("vorkasum -d " + cue + " -f pcm -t 3 <(cat " + path("track3.pcm") + "; echo more)");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with(": the stream goes on after 14700 samples\n")) << run.err;
    EXPECT_EQ(lines_of(run.out).size(), 4u) << run.out;
}

TEST_F(vorkasum_on_pipes, the_offset_search_needs_a_regular_file_and_devices_stay_refused) {
    const std::string disc_stream = fifo("disc.wav");
    std::thread audio = writer(disc_stream, as_format("wav", pattern_audio(0, 75)));
    const run_result run = vorkasum_guarded({"-a", write_entry(), "--offsets", disc_stream});
    audio.join();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: " + disc_stream +
                           ": not a regular file (--offsets reads the file more than once)\n");
    for (const std::string& device : {std::string("/dev/zero"), dir.path().string()}) {
        const run_result refused = vorkasum_guarded({device});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "vorkasum: " + device + ": not a regular file\n");
    }
    const run_result entry = vorkasum_guarded({"-a", "/dev/zero", path("a.wav")});
    EXPECT_EQ(entry.err, "vorkasum: /dev/zero: not a regular file\n");
}

// The whole loop on a drive with a read offset: --offsets finds it in an
// uncorrected rip, and a rip corrected by it matches the entry, through the
// drive entry's tenth field.
TEST_F(vorkasum_on_disc, finds_the_offset_of_a_drive_and_checks_the_corrected_rip) {
    temp_dir home;
    write_file(home / ".vorkarc", read_file(source_path("config/vorkarc")));
    const std::string entry = write_entry();
    for (const int c : {6, 667, -54, -1164}) {
        SCOPED_TRACE(c);
        const std::vector<std::string> environment = {
            "HOME=" + home.path().string(), "VORKA_IMAGE_READ_OFFSET=" + std::to_string(c)};
        write_file(home / ".vorkarc", "\"VORKA\" \"CD IMAGE\" \"\" 0xBE 0 0 0 26 0\n");
        run_result rip = run_program(
            {"vorka", "-q", "-d", disc.cue.string(), "-f", "wav", "-o", path("disc.%s")},
            environment);
        ASSERT_EQ(rip.status, 0) << rip.err;
        run_result run = vorkasum({"-a", entry, "--offsets", path("disc.wav")});
        EXPECT_EQ(lines_of(run.out).back(),
                  (c > 0 ? "offset +" : "offset ") + std::to_string(c) + " 3 3 3");
        rip = run_program(
            {"vorka", "-q", "-d", disc.cue.string(), "-f", "wav", "-o", path("u%02d.%s")},
            environment);
        ASSERT_EQ(rip.status, 0) << rip.err;
        run = vorkasum({"-a", entry, path("u01.wav"), path("u02.wav"), path("u03.wav")});
        EXPECT_EQ(run.status, 1);
        for (int track = 1; track <= 3; ++track) {
            EXPECT_NE(run.out.find("verify " + std::to_string(track) + " mismatch"),
                      std::string::npos)
                << run.out;
        }
        write_file(home / ".vorkarc",
                   "\"VORKA\" \"CD IMAGE\" \"\" 0xBE 0 0 0 26 0 " + std::to_string(c) + "\n");
        rip = run_program(
            {"vorka", "-q", "-d", disc.cue.string(), "-f", "wav", "-o", path("c%02d.%s")},
            environment);
        ASSERT_EQ(rip.status, 0) << rip.err;
        run = vorkasum({"-a", entry, path("c01.wav"), path("c02.wav"), path("c03.wav")});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        for (int track = 1; track <= 3; ++track) {
            EXPECT_NE(run.out.find("verify " + std::to_string(track) + " match 12 5"),
                      std::string::npos)
                << run.out;
        }
    }
}

TEST_F(vorkasum_on_disc, sends_only_read_toc) {
    const std::string log = path("scsi.log");
    const run_result run = vorkasum({}, {"VORKA_SCSI_LOG=" + log});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(log), "43 00 00 00 00 00 01 08 00 00 | in 2048 | ok\n");
}

TEST_F(vorkasum_on_disc, refuses_a_disc_without_these_identifiers) {
    disc_spec spec;
    spec.name = "between";
    spec.tracks = {
        {.sectors = 30}, {.mode = track_mode::mode1_2352, .sectors = 30}, {.sectors = 30}};
    const built_disc between = build_disc(dir.path(), spec);
    const run_result run = run_program({"vorkasum", "-d", between.cue.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: " + between.cue.string() +
                           ": track 2 is a data track between audio tracks: only audio CDs, "
                           "enhanced CDs (audio tracks, then one data track) and mixed-mode CDs "
                           "(one data track, then audio tracks) have these identifiers\n");
    EXPECT_EQ(run.out, "");
}

// A mixed-mode CD: the data track, then the three audio tracks of the
// fixture, the first after a 2-second pregap.  The files are tracks 2 to 4
// without -t; track 1 is refused.
TEST_F(vorkasum_on_disc, sums_a_mixed_mode_cd) {
    disc_spec spec;
    spec.name = "mixed";
    spec.tracks = {{.mode = track_mode::mode1_2352, .sectors = 40},
                   {.sectors = 20, .pregap = 150},
                   {.sectors = 30},
                   {.sectors = 25}};
    disc = build_disc(dir.path(), spec);
    first_audio = 2;
    std::vector<std::string> files;
    for (int track = 2; track <= 4; ++track) {
        files.push_back(path("mixed" + std::to_string(track) + ".wav"));
        write_file(files.back(), as_format("wav", track_audio(track)));
    }
    const std::string expected = independent(files, "--mixed");
    // Tracks at 0, 190, 210 and 240, lead-out 265: id1 = 190 + 210 + 240 +
    // 265, id2 = 190 * 1 + 210 * 2 + 240 * 3 + 265 * 4.
    EXPECT_EQ(lines_of(expected)[2], "accuraterip 003-00000389-00000956-0f000304");
    EXPECT_EQ(lines_of(expected)[4].substr(0, 7), "track 2");
    run_result run = vorkasum(files);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(vorkasum({"-t", "2", files[0], files[1], files[2]}).out, expected);
    run = vorkasum({"-t", "1", files[0]});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: track 1 is a data track; the audio tracks are 2 to 4\n");
}

TEST(vorkasum, command_line_mistakes_print_the_usage) {
    const struct {
        std::vector<std::string> args;
        const char* message;  // before the usage text; null: none
        int status;
    } cases[] = {
        {{"vorkasum"}, nullptr, 1},
        {{"vorkasum", "-x"}, "vorkasum: unknown option -x\n", 1},
        {{"vorkasum", "--bogus"}, "vorkasum: unknown option --bogus\n", 1},
        {{"vorkasum", "-d"}, "vorkasum: option -d needs an argument\n", 1},
        {{"vorkasum", "-f", "ogg", "a"},
         "vorkasum: unknown format \"ogg\" (wav, aiff, au, flac, pcm or mcp)\n",
         1},
        {{"vorkasum", "-t", "0", "a"},
         "vorkasum: -t needs a track number from 1 to 99, not \"0\"\n",
         1},
        {{"vorkasum", "--offsets", "disc.wav"},
         "vorkasum: --offsets needs -a entry and exactly one file, the whole disc, and no -t\n",
         1},
        {{"vorkasum", "-a", "entry.bin"},
         "vorkasum: -a needs the files of the tracks to check\n",
         1},
    };
    for (const auto& c : cases) {
        const run_result run = run_program(c.args);
        EXPECT_EQ(run.status, c.status) << c.args.back();
        const std::string message = c.message != nullptr ? c.message : "";
        EXPECT_EQ(run.err.substr(0, message.size()), message);
        EXPECT_EQ(run.err.substr(message.size(), 17), "Usage:  vorkasum ") << run.err;
        EXPECT_EQ(run.out, "");
    }
    const run_result help = run_program({"vorkasum", "-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, 17), "Usage:  vorkasum ");
    EXPECT_EQ(help.err, "");
}

TEST(vorkasum, a_device_that_cannot_be_opened_is_named) {
    const run_result run = run_program({"vorkasum", "-d", "/nonexistent/sr0"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vorkasum: /nonexistent/sr0: No such file or directory\n");
    EXPECT_EQ(run.out, "");
}

}  // namespace
