// The built vorka on the kinds of drive people own: SCSI drives that know
// every mode command, ATAPI drives that know only the 10-byte ones, and MMC
// drives whose block length cannot be changed.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/interrupt.h"
#include "common/program_name.h"
#include "image/emulated_drive.h"
#include "output/headers.h"
#include "reader/end_to_end_test_util.h"
#include "reader/extraction.h"

namespace {

const std::string inquiry = "12 00 00 00 40 00 | in 64 | ok";
const std::string toc = "43 00 00 00 00 00 01 08 00 00 | in 2048 | ok";
const std::string select6 = "15 10 00 00 0c 00 | out 12 00 00 00 08 00 00 00 00 00 00 ";
const std::string select10 =
    "55 10 00 00 00 00 00 00 10 00 | out 16 00 00 00 00 00 00 00 08 00 00 00 00 00 00 ";
const std::string select6_2048 = select6 + "08 00 | ok";
const std::string select6_2352 = select6 + "09 30 | ok";
const std::string select10_2048 = select10 + "08 00 | ok";
const std::string select10_2352 = select10 + "09 30 | ok";
const std::string unknown_select6 = select6 + "08 00 | check condition 05/20/00";
const std::string refused_select10 = select10 + "08 00 | check condition 05/26/00";

// READ CD of any sector type with every field: "be 00 ... f8 00 00".
lines raw_read_cd(std::uint32_t first, std::uint32_t end) {
    lines reads;
    for (std::uint32_t at = first; at < end; at += 26) {
        const std::uint32_t n = std::min<std::uint32_t>(26, end - at);
        char cdb[64];
        std::snprintf(cdb, sizeof cdb, "be 00 00 00 %02x %02x 00 00 %02x f8 00 00", at >> 8,
                      at & 0xff, n);
        reads.push_back(std::string(cdb) + " | in " + std::to_string(n * 2352) + " | ok");
    }
    return reads;
}

class vorka_on_drive_kinds : public vorka_on_image {
  protected:
    run_result vorka_on(const std::string& kind, std::vector<std::string> args,
                        std::vector<std::string> env = {}) const {
        env.push_back("VORKA_IMAGE_DRIVE=" + kind);
        return vorka(std::move(args), std::move(env));
    }

    lines logged(const std::string& kind, std::vector<std::string> args,
                 std::vector<std::string> env = {}) const {
        const std::string log = out("scsi.log");
        fs::remove(log);
        env.push_back("VORKA_SCSI_LOG=" + log);
        const run_result r = vorka_on(kind, std::move(args), std::move(env));
        EXPECT_EQ(r.status, 0) << kind << ": " << r.err;
        return split_lines(read_file(log));
    }
};

const char* const every_kind[] = {"scsi", "atapi", "mmc"};

TEST_F(vorka_on_drive_kinds, every_kind_lists_and_rips_the_enhanced_disc_byte_for_byte) {
    for (const char* kind : every_kind) {
        const run_result listing = vorka_on(kind, {"-iq"});
        EXPECT_EQ(listing.status, 0) << kind;
        EXPECT_EQ(listing.err, row1 + row2 + row3 + row4) << kind;

        const std::string name = std::string(kind) + "%02d.%s";
        const run_result rip = vorka_on(kind, {"-q", "-f", "wav", "-o", out(name)});
        EXPECT_EQ(rip.status, 0) << kind << ": " << rip.err;
        EXPECT_EQ(rip.err, "") << kind;
        for (int t = 1; t <= 4; ++t) {
            const std::string file = out(std::string(kind) + "0" + std::to_string(t) + ".wav");
            const bytes audio = track(t);
            const bytes header = as_bytes(make_wav_header(audio.size()));
            EXPECT_EQ(read_bytes(file), header + audio) << file;
        }

        // Ranges in data mode (a data track) and in audio mode, raw.
        for (const auto& [first, end] : {std::pair{260, 280}, std::pair{90, 120}}) {
            const std::string range = out(std::string(kind) + ".range");
            const run_result r = vorka_on(kind, {"-q", "-s", std::to_string(first), "-e",
                                                 std::to_string(end - 1), "-o", range});
            EXPECT_EQ(r.status, 0) << kind << ": " << r.err;
            EXPECT_EQ(read_bytes(range),
                      sectors(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end)))
                << kind << " " << first;
        }
    }
}

TEST_F(vorka_on_drive_kinds, the_command_log_shows_each_kind_of_fallback) {
    const std::vector<std::string> args = {"-q", "-t", "2-4", "-o", "/dev/null"};
    const lines scsi_start = {inquiry,
                              select6_2048,
                              toc,
                              select6_2352,
                              "28 00 00 00 00 fa 00 00 01 00 | in 2352 | ok",
                              select6_2048};
    EXPECT_EQ(logged("scsi", args), scsi_start + audio_reads("be", 100, 250) + lines{select6_2352} +
                                        audio_reads("28", 250, 300) + lines{select6_2048} +
                                        audio_reads("be", 300, 375) + lines{select6_2048});
    // MODE SELECT(6) is refused once, unseen; every change after it goes as
    // MODE SELECT(10).
    EXPECT_EQ(logged("atapi", args),
              (lines{inquiry, unknown_select6, select10_2048, toc, select10_2352,
                     "28 00 00 00 00 fa 00 00 01 00 | in 2352 | ok", select10_2048} +
               audio_reads("be", 100, 250) + lines{select10_2352} + audio_reads("28", 250, 300) +
               lines{select10_2048} + audio_reads("be", 300, 375) + lines{select10_2048}));
    // No changeable block length: nothing to restore, raw sectors by READ CD.
    EXPECT_EQ(logged("mmc", args),
              (lines{inquiry, unknown_select6, refused_select10, toc} + raw_read_cd(250, 251) +
               audio_reads("be", 100, 250) + raw_read_cd(250, 300) + audio_reads("be", 300, 375)));
    // The reset: both messages and status 0 on every kind.
    for (const char* kind : every_kind) {
        const run_result r = vorka_on(kind, {"-r"});
        EXPECT_EQ(r.status, 0) << kind;
        EXPECT_EQ(r.err, "Trying to reset CD-ROM density and sector size...\nDone.\n") << kind;
    }
}

TEST_F(vorka_on_drive_kinds, an_entry_that_needs_a_density_change_fails_on_a_fixed_drive) {
    use_entry("0x28 1 0 0 26 0");
    const run_result r = vorka_on("mmc", {"-q", "-t", "1", "-o", out("t%02d")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "error returned from SCSI command:\n"
              "Sense key: ILLEGAL REQUEST (0x5)\n"
              "Additional sense: 26/00 Invalid field in parameter list\n"
              "Sense bytes: 70 00 05 00 00 00 00 0a 00 00 00 00 26 00 00 00 00 00\n");
}

TEST_F(vorka_on_drive_kinds, a_failed_read_after_a_density_change_restores_the_data_defaults) {
    use_entry("0x28 1 0 0 26 0");
    const std::string log = out("scsi.log");
    struct restore_case {
        const char* kind;
        std::string last_command;
    };
    for (const restore_case& c :
         {restore_case{"scsi", select6_2048}, restore_case{"atapi", select10_2048}}) {
        fs::remove(log);
        const run_result r = vorka_on(c.kind, {"-q", "-t", "2", "-o", out("t%02d")},
                                      {"VORKA_IMAGE_MEDIUM_ERRORS=160", "VORKA_SCSI_LOG=" + log});
        EXPECT_EQ(r.status, 1) << c.kind;
        // The message is the read's alone; the restore after it is silent.
        EXPECT_TRUE(r.err.starts_with("error returned from CD-DA read command:\n")) << r.err;
        EXPECT_TRUE(r.err.ends_with(" 11 00 00 00 00 00\n")) << r.err;
        const lines sent = split_lines(read_file(log));
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(sent[sent.size() - 2],
                  "28 00 00 00 00 98 00 00 1a 00 | in 61152 | check condition 03/11/00");
        EXPECT_EQ(sent.back(), c.last_command) << c.kind;
    }
}

TEST_F(vorka_on_drive_kinds, a_data_track_whose_first_sector_is_bad_does_not_stop_the_audio) {
    for (const char* kind : every_kind) {
        const std::string bad = "VORKA_IMAGE_MEDIUM_ERRORS=250";
        const run_result listing = vorka_on(kind, {"-iq"}, {bad});
        EXPECT_EQ(listing.status, 0) << kind;
        EXPECT_EQ(listing.err, row1 + row2 + row3 + row4) << kind;

        const run_result rip = vorka_on(kind, {"-q", "-t", "1,2,4", "-o", out("t%02d.%s")}, {bad});
        EXPECT_EQ(rip.status, 0) << kind << ": " << rip.err;
        for (int t : {1, 2, 4}) {
            EXPECT_EQ(read_bytes(out("t0" + std::to_string(t) + ".raw")), track(t)) << kind;
        }
        // Reading the data track itself still meets the bad sector.
        const run_result data = vorka_on(kind, {"-q", "-t", "3", "-o", out("t%02d.%s")}, {bad});
        EXPECT_EQ(data.status, 1) << kind;
        EXPECT_TRUE(
            data.err.starts_with("error returned from CD-DA read command:\n"
                                 "Sense key: MEDIUM ERROR (0x3)\n"))
            << data.err;
    }
}

// vorka writing one stream into a FIFO that the test reads from, so that the
// run is certain to be in the middle of its tracks when the signal comes.
struct fifo_run {
    pid_t pid = -1;
    int status = 0;
};

fifo_run start_into_fifo(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, int ignored_signal = 0) {
    fifo_run run;
    run.pid = start_program(argv, [&] {
        if (ignored_signal != 0) {
            ::signal(ignored_signal, SIG_IGN);  // as nohup or a background job
        }
        for (const std::string& setting : environment) {
            ::putenv(const_cast<char*>(setting.c_str()));
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 2);
    });
    return run;
}

TEST_F(vorka_on_drive_kinds, an_interrupt_restores_the_drive_and_ends_by_the_signal) {
    use_entry("0x28 1 0 0 26 0");
    const std::string fifo = out("audio.fifo");
    const std::string log = out("scsi.log");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct interrupt_case {
        int signal_number;  // sent to vorka; SIGPIPE: the reader goes away instead
        bool ignored;       // vorka was started with the signal ignored
    };
    const interrupt_case cases[] = {
        {SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGPIPE, false}, {SIGINT, true}};
    for (const interrupt_case& c : cases) {
        fs::remove(log);
        fifo_run run = start_into_fifo(
            {program_path("vorka"), "-q", "-d", disc.cue.string(), "-t", "1-2", "-o", fifo},
            {"HOME=" + home.path().string(), "VORKA_SCSI_LOG=" + log},
            c.ignored ? c.signal_number : 0);
        const int reader = ::open(fifo.c_str(), O_RDONLY);
        ASSERT_GE(reader, 0);
        // Well into track 1, read in audio mode at 2352-byte blocks; then
        // the pipe fills and vorka waits in its write.
        std::vector<char> block(100 * 2352);
        std::size_t taken = 0;
        while (taken < block.size()) {
            const ssize_t n = ::read(reader, block.data() + taken, block.size() - taken);
            ASSERT_GT(n, 0);
            taken += static_cast<std::size_t>(n);
        }
        if (c.signal_number == SIGPIPE) {
            ::close(reader);
        } else {
            ::kill(run.pid, c.signal_number);
            if (c.ignored) {
                while (::read(reader, block.data(), block.size()) > 0) {
                }
            }
            ::close(reader);
        }
        ASSERT_EQ(::waitpid(run.pid, &run.status, 0), run.pid);
        const lines sent = split_lines(read_file(log));
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back(), select6_2048) << c.signal_number;
        EXPECT_NE(std::find(sent.begin(), sent.end(), select6_2352), sent.end());
        if (c.ignored) {
            EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
            // The whole run: start-up and probe (6), the switch, 10 reads, the restore.
            EXPECT_EQ(sent.size(), 18u);
        } else {
            EXPECT_TRUE(WIFSIGNALED(run.status)) << run.status;
            EXPECT_EQ(WTERMSIG(run.status), c.signal_number);
        }
    }
}

// The emulated drive in this process, so that its own block format can be
// looked at after a run that needs 2352-byte blocks for audio ends early.
struct early_end : ::testing::Test {
    temp_dir dir;
    built_disc disc = build_disc(dir.path(), four_track_disc());
    reader_settings settings;
    track_selection selection;
    drive_entry entry;
    emulated_drive* drive = nullptr;
    std::unique_ptr<scsi_device> device;

    void SetUp() override {
        set_program_name("vorka");
        entry.readcmd = 0x28;
        entry.mdchng = true;
        entry.blocks = 26;
        settings.read_size = 26;
        settings.quiet = 1;
        settings.output_name = (dir / "t%02d.%s").string();
        selection.count = 2;
        selection.indexes[0] = 0;
        selection.indexes[1] = 1;
    }

    void open(sector_ranges medium_errors = {}) {
        std::string error;
        auto emulated = std::make_unique<emulated_drive>(disc_image::open(disc.cue.string(), error),
                                                         std::move(medium_errors));
        drive = emulated.get();
        device = scsi_attach(std::move(emulated));
    }

    bool at_data_defaults() const { return drive->density() == 0 && drive->block_length() == 2048; }
};

TEST_F(early_end, a_failed_read_leaves_the_drive_at_its_data_defaults) {
    open({{160, 160}});
    const run_result r = run_captured([&] {
        run_extraction({settings, selection, *device, entry});
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(at_data_defaults()) << drive->block_length();
}

TEST_F(early_end, an_interrupt_leaves_the_drive_at_its_data_defaults) {
    // In a child process: the noted signal must not reach the other tests.
    EXPECT_EXIT(
        {
            open();
            catch_interrupts();
            int readings = 0;
            // The clock is read at the run's start and at each track's;
            // the signal comes as track 2 begins, the drive at 2352 bytes.
            auto clock = [&] {
                if (++readings == 3) {
                    ::raise(SIGINT);
                }
                return std::int64_t{readings};
            };
            const run_result r = run_captured([&] {
                run_extraction({settings, selection, *device, entry, clock});
            });
            std::_Exit(r.status == 130 && at_data_defaults() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
