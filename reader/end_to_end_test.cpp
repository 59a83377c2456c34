// The built vorka on generated disc images, through its command line.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "output/headers.h"
#include "reader/end_to_end_test_util.h"

namespace {

TEST_F(vorka_on_image, the_disc_is_where_the_listing_expects_it) {
    ASSERT_EQ(disc.starts, (std::vector<std::uint32_t>{0, 100, 250, 300}));
    ASSERT_EQ(disc.leadout, 375u);
}

TEST_F(vorka_on_image, every_format_carries_the_image_samples_in_its_byte_order) {
    struct format_case {
        const char* name;
        const char* extension;
        std::function<bytes(std::uint64_t)> header;
        bool big_endian;
    };
    const format_case cases[] = {
        {"pcm", "raw", [](std::uint64_t) { return bytes{}; }, false},
        {"mcp", "war", [](std::uint64_t) { return bytes{}; }, true},
        {"aiff", "aiff", [](std::uint64_t n) { return as_bytes(make_aiff_header(n)); }, true},
        {"wav", "wav", [](std::uint64_t n) { return as_bytes(make_wav_header(n)); }, false},
        {"au", "au", [](std::uint64_t n) { return as_bytes(make_au_header(n)); }, true},
    };
    for (const format_case& c : cases) {
        const run_result r = vorka({"-q", "-t", "4,1", "-f", c.name, "-o", out("t%02d.%s")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        for (int t : {1, 4}) {
            const bytes audio = c.big_endian ? swap_words(track(t)) : track(t);
            const std::string name = out("t0" + std::to_string(t) + "." + c.extension);
            EXPECT_EQ(read_bytes(name), c.header(audio.size()) + audio) << name;
        }
        EXPECT_FALSE(fs::exists(out(std::string("t02.") + c.extension)));
    }
}

TEST_F(vorka_on_image, per_track_run_prints_the_listing_and_the_statistics) {
    const run_result r = vorka({"-t", "1,3", "-o", out("track%02d.%s")});
    EXPECT_EQ(r.status, 0);
    const std::string expected = "Device: " + disc.cue.string() +
                                 " -- \"VORKA\" \"CD IMAGE\" \"1.0\"\n" + listing_header + row1 +
                                 "  Reading to " + out("track01.raw") + " ...\r" + row3 +
                                 "  Reading to " + out("track03.raw") + " ...\r" + separator +
                                 " total   0:01'25     150 sectors     352800     23004      52\n" +
                                 wipe + "Transferred 0.336 Mb in ";
    EXPECT_EQ(r.err.substr(0, expected.size()), expected);
    EXPECT_TRUE(r.err.ends_with(".\n"));
    // The data track is read raw: sync pattern, header and mode byte.
    const bytes data = read_bytes(out("track03.raw"));
    EXPECT_EQ(data, track(3));
    EXPECT_EQ(data[0], 0x00);
    EXPECT_EQ(data[1], 0xff);
    EXPECT_EQ(data[15], 0x01);
}

TEST_F(vorka_on_image, one_stream_into_a_file_or_standard_output) {
    const bytes payload = track(2) + track(3);
    const bytes wav = as_bytes(make_wav_header(payload.size()));

    run_result r = vorka({"-t", "2-3", "-f", "wav", "-o", out("all.%s")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.find("Output file: " + out("all.wav") + "\n" + listing_header + row2 +
                           "  Reading ...\r" + row3 + "  Reading ...\r") != std::string::npos)
        << r.err;
    EXPECT_EQ(read_bytes(out("all.wav")), wav + payload);

    r = vorka({"-q", "-t", "2-3", "-f", "wav", "-o", "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(bytes(r.out.begin(), r.out.end()), wav + payload);
}

TEST_F(vorka_on_image, closed_standard_streams_never_receive_the_audio_file) {
    // Started with standard error or standard output closed, the output
    // file must not take over the free descriptor: the listing would land in
    // the audio, or the audio would be written to a stream that is closed.
    const bytes payload = track(2) + track(3);
    const bytes wav = as_bytes(make_wav_header(payload.size()));
    const std::string base =
        "exec '" + program_path("vorka") + "' -d '" + disc.cue.string() + "' -t 2-3 -f wav -o ";
    const std::string home_setting = "HOME=" + home.path().string();

    // The listing it could not print makes the status 1; the file is whole.
    run_result r =
        run_program({"/bin/sh", "-c", base + "'" + out("all.%s") + "' >&- 2>&-"}, {home_setting});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_bytes(out("all.wav")), wav + payload);

    r = run_program({"/bin/sh", "-c", base + "- >&-"}, {home_setting});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("vorka: write(): Bad file descriptor\n")) << r.err;
}

TEST_F(vorka_on_image, a_sector_range_with_the_default_template_is_one_file_of_that_name) {
    const std::string command = "cd '" + work.path().string() + "' && exec '" +
                                program_path("vorka") + "' -q -d '" + disc.cue.string() +
                                "' -s 90 -e 109";
    const run_result r = run_program({"/bin/sh", "-c", command}, {"HOME=" + home.path().string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_bytes(out("track%02d.raw")), sectors(90, 110));
    EXPECT_FALSE(fs::exists(out("track01.raw")));
}

TEST_F(vorka_on_image, index_mode_lists_without_reading) {
    const std::string totals =
        separator + " total   0:04'25     375 sectors     882000     72676     166\n";
    struct index_case {
        std::vector<std::string> args;
        std::string err;
    };
    const index_case cases[] = {
        {{"-i", "-t", "1-4"},
         "Device: " + disc.cue.string() + " -- \"VORKA\" \"CD IMAGE\" \"1.0\"\n" + listing_header +
             row1 + row2 + row3 + row4 + totals},
        {{"-iq", "-t", "1-4"}, row1 + row2 + row3 + row4},
        {{"-iq", "-s", "260", "-e", "269"},
         "    -          -     260     269      23520         -       -  data\n"},
        {{"-iq", "-t", "9"}, ""},
    };
    for (const index_case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", out("x%02d")});
        const run_result r = vorka(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err) << c.args[0];
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(fs::directory_iterator(work.path())->path().filename(), "image");
}

TEST_F(vorka_on_image, tracks_beyond_the_disc_give_an_empty_stream) {
    const run_result r = vorka({"-t", "5,9", "-f", "wav", "-o", "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(bytes(r.out.begin(), r.out.end()), as_bytes(make_wav_header(0)));
    const std::string expected =
        "Device: " + disc.cue.string() + " -- \"VORKA\" \"CD IMAGE\" \"1.0\"\n" + listing_header +
        separator + " total         -       0 sectors          0         -       -\n" + wipe +
        "Transferred 0.000 Mb in ";
    EXPECT_EQ(r.err.substr(0, expected.size()), expected);
    EXPECT_TRUE(r.err.ends_with("kb/s, speed: 0.0.\n")) << r.err;
}

TEST_F(vorka_on_image, command_log_shows_modes_probe_reads_and_restore) {
    const std::string inquiry = "12 00 00 00 40 00 | in 64 | ok";
    const std::string toc = "43 00 00 00 00 00 01 08 00 00 | in 2048 | ok";
    const std::string probe = "28 00 00 00 00 fa 00 00 01 00 | in 2352 | ok";
    const std::string select_2048 =
        "15 10 00 00 0c 00 | out 12 00 00 00 08 00 00 00 00 00 00 08 00 | ok";
    const std::string select_2352 =
        "15 10 00 00 0c 00 | out 12 00 00 00 08 00 00 00 00 00 00 09 30 | ok";
    const lines start = {inquiry, select_2048, toc, select_2352, probe, select_2048};
    struct log_case {
        std::string entry;  // empty: the shipped configuration
        lines expected;
    };
    const log_case cases[] = {
        // READ CD, no mode change: data mode for track 3, back to 2048 for 4.
        {"", start + audio_reads("be", 100, 250) + lines{select_2352} +
                 audio_reads("28", 250, 300) + lines{select_2048} + audio_reads("be", 300, 375) +
                 lines{select_2048}},
        // The 12-byte vendor read.
        {"0xD8 0 0 0 26 0", start + audio_reads("d8", 100, 250) + lines{select_2352} +
                                audio_reads("28", 250, 300) + lines{select_2048} +
                                audio_reads("d8", 300, 375) + lines{select_2048}},
        // A 10-byte read that needs 2352-byte blocks: every switch selects them.
        {"0x28 1 0 0 26 0", start + lines{select_2352} + audio_reads("28", 100, 250) +
                                lines{select_2352} + audio_reads("28", 250, 300) +
                                lines{select_2352} + audio_reads("28", 300, 375) +
                                lines{select_2048}},
    };
    for (const log_case& c : cases) {
        if (!c.entry.empty()) {
            use_entry(c.entry);
        }
        const std::string log = out("scsi.log");
        fs::remove(log);
        const run_result r =
            vorka({"-q", "-t", "2-4", "-o", "/dev/null"}, {"VORKA_SCSI_LOG=" + log});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(split_lines(read_file(log)), c.expected) << c.entry;
    }
}

TEST_F(vorka_on_image, a_bad_sector_ends_the_run_and_keeps_what_was_read) {
    const run_result r =
        vorka({"-q", "-o", out("track%02d.%s")}, {"VORKA_IMAGE_MEDIUM_ERRORS=160"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "error returned from CD-DA read command:\n"
              "Sense key: MEDIUM ERROR (0x3)\n"
              "Additional sense: 11/00 Unrecovered read error\n"
              "Information: 160 (0xa0)\n"
              "Sense bytes: f0 00 03 00 00 00 a0 0a 00 00 00 00 11 00 00 00 00 00\n");
    EXPECT_EQ(read_bytes(out("track01.raw")), track(1));
    // Track 2's first two chunks (100 to 151) made it; the third held 160.
    EXPECT_EQ(read_bytes(out("track02.raw")), sectors(100, 152));
    EXPECT_FALSE(fs::exists(out("track03.raw")));
}

TEST_F(vorka_on_image, a_sector_range_past_the_lead_out_ends_with_the_drive_error) {
    const run_result r = vorka({"-q", "-s", "340", "-e", "399", "-o", out("range.raw")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "error returned from CD-DA read command:\n"
              "Sense key: ILLEGAL REQUEST (0x5)\n"
              "Additional sense: 21/00 Logical block address out of range\n"
              "Information: 366 (0x16e)\n"
              "Sense bytes: f0 00 05 00 00 01 6e 0a 00 00 00 00 21 00 00 00 00 00\n");
    // The first chunk (340 to 365) lay before the lead-out at 375.
    EXPECT_EQ(read_bytes(out("range.raw")), sectors(340, 366));
}

TEST_F(vorka_on_image, output_failures_are_reported) {
    struct failure_case {
        std::string output;
        std::string err;
    };
    const failure_case cases[] = {
        {"/dev/full", "vorka: write(): No space left on device\n"},
        {out("missing/track%02d.%s"), "vorka: open(output file): No such file or directory\n"},
        {out("missing/all.wav"), "vorka: open(output file): No such file or directory\n"},
    };
    for (const failure_case& c : cases) {
        const run_result r = vorka({"-q", "-f", "wav", "-o", c.output});
        EXPECT_EQ(r.status, 1) << c.output;
        EXPECT_EQ(r.err, c.err) << c.output;
    }
}

// A FIFO in place of ~/.vorkarc used to hold the program in its open for
// ever, and a link to /dev/zero kept it reading empty lines for ever, even
// for -V.  The run is given ten seconds to say so.
TEST_F(vorka_on_image, a_configuration_file_that_is_no_regular_file_is_refused_at_once) {
    const fs::path rc = home / ".vorkarc";
    const std::function<void()> make[] = {
        [&] { ASSERT_EQ(::mkfifo(rc.c_str(), 0644), 0); },
        [&] { fs::create_symlink("/dev/zero", rc); },
        [&] { fs::create_symlink("/dev/null", rc); },
        [&] { fs::create_directory(rc); },
    };
    for (const auto& make_rc : make) {
        fs::remove_all(rc);
        make_rc();
        const run_result r = run_program({"/usr/bin/timeout", "10", program_path("vorka"), "-V"},
                                         {"HOME=" + home.path().string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "vorka: " + rc.string() + ": not a regular file\n");
    }
}

// The status of a program run with standard error on a pipe whose reader
// has gone and SIGPIPE ignored, as many service managers start programs.
int status_with_stderr_on_broken_pipe(const std::vector<std::string>& argv,
                                      const std::string& home) {
    int ends[2];
    if (::pipe(ends) != 0) {
        return -1;
    }
    ::close(ends[0]);
    const pid_t pid = start_program(argv, [&] {
        ::signal(SIGPIPE, SIG_IGN);
        ::dup2(ends[1], 2);
        ::setenv("HOME", home.c_str(), 1);
    });
    ::close(ends[1]);
    return shell_status(wait_for_child(pid));
}

// For -i the listing is the product: a listing that went nowhere is a
// failed run, and so is a rip whose messages were lost.
TEST_F(vorka_on_image, a_listing_that_cannot_be_written_ends_with_status_1) {
    const std::string vorka_path = program_path("vorka");
    const std::string cue = disc.cue.string();
    for (const char* options : {"-iq", "-i", "-q -v -o /dev/null"}) {
        const run_result full = run_program(
            {"/bin/sh", "-c", std::string("exec \"$0\" ") + options + " -d \"$1\" 2>/dev/full",
             vorka_path, cue},
            {"HOME=" + home.path().string()});
        EXPECT_EQ(full.status, 1) << options;
    }
    EXPECT_EQ(status_with_stderr_on_broken_pipe({vorka_path, "-iq", "-d", cue}, home.path()), 1);
    // Nothing printed, nothing lost.
    EXPECT_EQ(status_with_stderr_on_broken_pipe({vorka_path, "-q", "-d", cue, "-o", "/dev/null"},
                                                home.path()),
              0);
}

// "vorka -d disc.cue -o disc.bin" used to truncate the image it was about to
// read and rip the zeros.  Whatever name leads to a file of the image, the
// run stops before it opens any file for writing.
TEST_F(vorka_on_image, an_output_file_that_is_a_file_of_the_disc_image_is_refused) {
    const fs::path image = work / "image";
    const std::string bin = (image / "disc-01.bin").string();
    const std::string cue = disc.cue.string();
    fs::create_symlink(bin, work / "link.bin");
    fs::create_hard_link(bin, work / "hard.bin");
    const bytes bin_before = read_bytes(bin);
    const std::string cue_before = read_file(cue);
    const struct {
        std::vector<std::string> args;
        std::string output, source;
    } cases[] = {
        {{"-o", bin}, bin, bin},
        {{"-o", cue, "-f", "wav"}, cue, cue},
        {{"-o", out("link.bin")}, out("link.bin"), bin},
        {{"-s", "10", "-e", "20", "-o", out("hard.bin")}, out("hard.bin"), bin},
        // Track 2's file would be written first: it must not be created.
        {{"-t", "2,1", "-o", (image / "disc-%02d.bin").string()}, bin, bin},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result r = vorka(args);
        EXPECT_EQ(r.status, 1) << c.output;
        EXPECT_EQ(r.err, "vorka: Output file \"" + c.output + "\" is the disc image file \"" +
                             c.source + "\"; it would be overwritten before it is read.\n");
        EXPECT_FALSE(fs::exists(image / "disc-02.bin"));
        ASSERT_EQ(read_bytes(bin), bin_before) << c.output;
        ASSERT_EQ(read_file(cue), cue_before) << c.output;
    }
    // Only the tracks that are read count, and a listing writes nothing.
    EXPECT_EQ(vorka({"-q", "-t", "2", "-o", (image / "disc-%02d.bin").string()}).status, 0);
    EXPECT_EQ(vorka({"-iq", "-o", bin}).status, 0);
    EXPECT_EQ(read_bytes(bin), bin_before);
}

TEST_F(vorka_on_image, reset_sends_the_data_defaults_only) {
    const std::string log = out("scsi.log");
    const run_result r = vorka({"-r"}, {"VORKA_SCSI_LOG=" + log});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Trying to reset CD-ROM density and sector size...\nDone.\n");
    EXPECT_EQ(read_file(log),
              "15 10 00 00 0c 00 | out 12 00 00 00 08 00 00 00 00 00 00 08 00 | ok\n");
}

}  // namespace
