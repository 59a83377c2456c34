#include "reader/extraction.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <memory>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "output/headers.h"
#include "scsi/passthrough/scripted_passthrough_test_util.h"
#include "scsi/sense_text.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// A small disc: two audio tracks and a Mode 1 data track.
struct fake_track {
    std::uint8_t adr_control;
    std::uint32_t start;
};
const fake_track disc[] = {{0x10, 0}, {0x10, 100}, {0x14, 250}, {0x10, 300}};  // last: lead-out

// A READ TOC answer with one descriptor per entry, the last being the lead-out.
bytes toc_of(std::initializer_list<fake_track> entries) {
    bytes toc{0, static_cast<std::uint8_t>(2 + 8 * entries.size()), 1,
              static_cast<std::uint8_t>(entries.size() - 1)};
    std::uint8_t number = 1;
    for (const fake_track& t : entries) {
        toc.insert(toc.end(),
                   {0, t.adr_control, number++, 0, 0, 0, static_cast<std::uint8_t>(t.start >> 8),
                    static_cast<std::uint8_t>(t.start)});
    }
    return toc;
}

bytes toc_answer() {
    return toc_of({disc[0], disc[1], disc[2], disc[3]});
}

std::uint32_t address_of(const std::vector<std::uint8_t>& cdb) {
    return static_cast<std::uint32_t>(cdb[2]) << 24 | cdb[3] << 16 | cdb[4] << 8 | cdb[5];
}

// Sample bytes that tell sector and position apart: low byte of the address,
// then the position within the sector.
bytes sectors_from(std::uint32_t first, std::size_t length) {
    bytes data(length);
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t in_sector = i % sector_bytes;
        data[i] = static_cast<std::uint8_t>(in_sector % 2 == 0 ? first + i / sector_bytes
                                                               : in_sector / 2);
    }
    if (first == 250) {
        data[15] = 1;  // the data track's mode byte
    }
    return data;
}

scripted_answer answer(const recorded_request& request) {
    switch (request.cdb[0]) {
        case 0x43:
            return scripted_answer::completed(toc_answer());
        case 0x15:
            return scripted_answer::completed();
        default:
            return scripted_answer::completed(
                sectors_from(address_of(request.cdb), request.length));
    }
}

// A clock that moves on by a fixed step at every reading: the run's start,
// the start of every range read, and the run's end.
struct stepping_clock {
    std::int64_t now = 0;
    std::int64_t step = 0;
    std::int64_t operator()() { return now += step; }
};

struct run_fixture : ::testing::Test {
    temp_dir dir;
    reader_settings settings;
    track_selection selection;
    drive_entry entry;
    std::shared_ptr<drive_script> script = std::make_shared<drive_script>();
    stepping_clock clock{0, 1000000};

    void SetUp() override {
        set_program_name("vorka");
        script->otherwise(answer);
        entry.readcmd = 0xbe;
        entry.blocks = 26;
        settings.read_size = 26;
        settings.output_name = (dir / "track%02d.%s").string();
    }

    void select(std::initializer_list<int> tracks) {
        selection.count = 0;
        for (int t : tracks) {
            selection.indexes[selection.count++] = t - 1;
        }
    }

    void select_range(std::int32_t first, std::int64_t last) {
        settings.start_sector = first;
        settings.end_sector = last + 1;
        selection.count = 1;
    }

    run_result run() {
        auto device = scsi_attach(drive_script::make_passthrough(script));
        return run_captured([&] {
            run_extraction({settings, selection, *device, entry, std::ref(clock)});
        });
    }

    std::vector<std::string> commands() const {
        std::vector<std::string> lines;
        for (const recorded_request& r : script->requests()) {
            lines.push_back(hex_bytes(r.cdb));
        }
        return lines;
    }
};

const std::string header =
    "\n"
    " track   playing  start    end     raw size  mp3 size   # of   track\n"
    " number   time    sector  sector   in bytes  128 kbps  frames  type\n"
    "---------------------------------------------------------------------\n";
const std::string row1 = "    1    0:01'25       0      99     235200     22168      52  audio\n";
const std::string row2 = "    2    0:02'00     100     249     352800     32835      77  audio\n";
const std::string row3 = "    3          -     250     299     117600         -       -  data\n";
const std::string wipe = std::string(62, ' ') + "\n";

TEST(transfer_statistics, worked_figures) {
    EXPECT_EQ(transfer_statistics(75, 0, 1000000),
              "Transferred 0.168 Mb in 1.0 seconds, 176.4 kb/s, speed: 1.0.\n");
    // A clock that did not move counts as one microsecond: 0 ms, divisor 1.
    EXPECT_EQ(transfer_statistics(75, 5, 5),
              "Transferred 0.168 Mb in 0.0 seconds, 22050.0 kb/s, speed: 125.0.\n");
    EXPECT_EQ(transfer_statistics(0, 0, 3000000),
              "Transferred 0.000 Mb in 3.0 seconds, 0.0 kb/s, speed: 0.0.\n");
    // Under 4 ms the divisor stays 1.
    EXPECT_EQ(transfer_statistics(4500, 0, 3499),
              "Transferred 10.094 Mb in 0.0 seconds, 1323000.0 kb/s, speed: 7500.0.\n");
}

TEST_F(run_fixture, per_track_files_with_their_own_headers) {
    settings.selected_format = &output_formats[3];  // wav
    select({1, 3});
    const run_result r = run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string track01 = (dir / "track01.wav").string();
    const std::string track03 = (dir / "track03.wav").string();
    EXPECT_EQ(r.err, header + row1 + "  Reading to " + track01 + " ...\r" + row3 + "  Reading to " +
                         track03 + " ...\r" +
                         "---------------------------------------------------------------------\n"
                         " total   0:01'25     150 sectors     352800     23004      52\n" +
                         wipe + "Transferred 0.336 Mb in 3.0 seconds, 117.6 kb/s, speed: 0.7.\n");
    const bytes one = read_bytes(track01);
    const auto wav = make_wav_header(100 * sector_bytes);
    ASSERT_EQ(one.size(), wav.size() + 100 * sector_bytes);
    EXPECT_TRUE(std::equal(wav.begin(), wav.end(), one.begin()));
    const bytes audio = sectors_from(0, 100 * sector_bytes);
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), one.begin() + wav.size()));
    EXPECT_EQ(read_bytes(track03).size(), wav.size() + 50 * sector_bytes);
}

TEST_F(run_fixture, mode_switches_the_probe_and_the_restore_in_order) {
    select({1, 3, 2});
    run();
    EXPECT_EQ(commands(),
              (std::vector<std::string>{"15 10 00 00 0c 00",                    // data defaults
                                        "43 00 00 00 00 00 01 08 00 00",        // table of contents
                                        "15 10 00 00 0c 00",                    // 2352-byte blocks
                                        "28 00 00 00 00 fa 00 00 01 00",        // probe of track 3
                                        "15 10 00 00 0c 00",                    // data defaults
                                        "be 04 00 00 00 00 00 00 1a 10 00 00",  // track 1 ...
                                        "be 04 00 00 00 1a 00 00 1a 10 00 00",
                                        "be 04 00 00 00 34 00 00 1a 10 00 00",
                                        "be 04 00 00 00 4e 00 00 16 10 00 00",
                                        "15 10 00 00 0c 00",  // data mode for track 3
                                        "28 00 00 00 00 fa 00 00 1a 00",
                                        "28 00 00 00 01 14 00 00 18 00",
                                        "15 10 00 00 0c 00",  // audio again
                                        "be 04 00 00 00 64 00 00 1a 10 00 00",
                                        "be 04 00 00 00 7e 00 00 1a 10 00 00",
                                        "be 04 00 00 00 98 00 00 1a 10 00 00",
                                        "be 04 00 00 00 b2 00 00 1a 10 00 00",
                                        "be 04 00 00 00 cc 00 00 1a 10 00 00",
                                        "be 04 00 00 00 e6 00 00 14 10 00 00",
                                        "15 10 00 00 0c 00"}));  // data defaults at the end
    const auto& sent = script->requests();
    EXPECT_EQ(hex_bytes(sent[9].data_sent), "00 00 00 08 00 00 00 00 00 00 09 30");
    EXPECT_EQ(hex_bytes(sent[12].data_sent), "00 00 00 08 00 00 00 00 00 00 08 00");
}

TEST_F(run_fixture, one_stream_to_standard_output_has_one_header) {
    settings.selected_format = &output_formats[4];  // au
    settings.output_name = "-";
    settings.quiet = 1;
    select({2, 1, 9});
    auto device = scsi_attach(drive_script::make_passthrough(script));
    bool stdout_open = false;
    const run_result r = run_captured([&] {
        run_extraction({settings, selection, *device, entry, std::ref(clock)});
        stdout_open = ::fcntl(1, F_GETFD) != -1;
    });
    EXPECT_TRUE(stdout_open);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const auto au = make_au_header(250 * sector_bytes);
    ASSERT_EQ(r.out.size(), au.size() + 250 * sector_bytes);
    const bytes out(r.out.begin(), r.out.end());
    EXPECT_TRUE(std::equal(au.begin(), au.end(), out.begin()));
    // Big-endian samples: the bytes of each word exchanged; track 2 first.
    EXPECT_EQ(out[au.size()], 0);
    EXPECT_EQ(out[au.size() + 1], 100);
}

TEST_F(run_fixture, one_file_for_the_whole_stream) {
    settings.output_name = (dir / "all.%s").string();
    select({1, 2});
    const run_result r = run();
    EXPECT_EQ(r.status, 0);
    const std::string name = (dir / "all.raw").string();
    EXPECT_TRUE(r.err.starts_with("Output file: " + name + "\n" + header + row1 +
                                  "  Reading ...\r" + row2 + "  Reading ...\r"))
        << r.err;
    EXPECT_EQ(read_bytes(name), sectors_from(0, 250 * sector_bytes));
}

TEST_F(run_fixture, a_sector_range_goes_to_one_file_named_literally) {
    select_range(90, 109);
    const run_result r = run();
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string name = (dir / "track%02d.raw").string();
    EXPECT_EQ(r.err, "Output file: " + name + "\n" + header +
                         "    -    0:00'20      90     109      47040      5101      11  audio\n"
                         "  Reading ...\r" +
                         wipe + "Transferred 0.045 Mb in 2.0 seconds, 23.5 kb/s, speed: 0.1.\n");
    EXPECT_EQ(read_bytes(name), sectors_from(90, 20 * sector_bytes));
}

TEST_F(run_fixture, index_mode_lists_and_reads_nothing) {
    struct index_case {
        bool range;
        int quiet;
        std::string err;
    };
    const std::string range_row =
        "    -          -     260     269      23520         -       -  data\n";
    const std::string totals =
        "---------------------------------------------------------------------\n"
        " total   0:03'25     300 sectors     705600     55840     128\n";
    const index_case cases[] = {
        {false, 0, header + row1 + row2 + row3 + totals},
        {false, 1, row1 + row2 + row3},
        {true, 0, header + range_row},
        {true, 1, range_row},
    };
    for (const index_case& c : cases) {
        script = std::make_shared<drive_script>();
        script->otherwise(answer);
        settings = reader_settings{};
        settings.read_size = 26;
        settings.output_name = (dir / "x%02d").string();
        settings.index_only = 1;
        settings.quiet = c.quiet;
        if (c.range) {
            select_range(260, 269);
        } else {
            select({1, 2, 3});
        }
        const run_result r = run();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err) << c.range << c.quiet;
        std::size_t reads = 0;
        for (const recorded_request& req : script->requests()) {
            reads += req.cdb[0] == 0xbe;
        }
        EXPECT_EQ(reads, 0u);
        // Table of contents with its probe, then one restore for a track
        // list; none after a range.
        EXPECT_EQ(script->requests().size(), c.range ? 5u : 6u);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(run_fixture, quiet_and_verbose_choose_the_messages) {
    struct message_case {
        int quiet;
        int verbosity;
        std::string err;
    };
    const std::string track02 = (dir / "track02.raw").string();
    // The clock is read at the run's start and end, at the track's start,
    // and (verbose) at the progress check after 104 sectors.
    const std::string stats = "Transferred 0.336 Mb in 3.0 seconds, 117.6 kb/s, speed: 0.7.\n";
    const message_case cases[] = {
        {1, 0, ""},
        {1, 1, stats},
        {0, 1, header + row2 + "  Reading to " + track02 + " ...\r" + wipe + stats},
        {0, 2, header + row2 + "  (output file: " + track02 + ")\n" + wipe + stats},
    };
    for (const message_case& c : cases) {
        script = std::make_shared<drive_script>();
        script->otherwise(answer);
        settings.quiet = c.quiet;
        settings.verbosity = c.verbosity;
        settings.output_name = (dir / "track%02d.%s").string();
        select({2});
        const run_result r = run();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err) << c.quiet << " " << c.verbosity;
    }
}

TEST_F(run_fixture, tracks_beyond_the_disc_are_skipped) {
    settings.output_name = "-";
    settings.selected_format = &output_formats[3];  // wav
    select({7, 9});
    const run_result r = run();
    EXPECT_EQ(r.status, 0);
    const auto wav = make_wav_header(0);
    EXPECT_EQ(r.out, std::string(wav.begin(), wav.end()));
    EXPECT_EQ(r.err, header +
                         "---------------------------------------------------------------------\n"
                         " total         -       0 sectors          0         -       -\n" +
                         wipe + "Transferred 0.000 Mb in 1.0 seconds, 0.0 kb/s, speed: 0.0.\n");
}

TEST_F(run_fixture, output_failures_are_reported) {
    struct failure_case {
        std::string output;
        std::string err_end;
    };
    const failure_case cases[] = {
        {(dir / "missing" / "track%02d.raw").string(),
         "vorka: open(output file): No such file or directory\n"},
        {(dir / "missing" / "all.raw").string(),
         "vorka: open(output file): No such file or directory\n"},
        {"/dev/full", "vorka: write(): No space left on device\n"},
    };
    for (const failure_case& c : cases) {
        settings.output_name = c.output;
        settings.quiet = 1;
        select({1});
        const run_result r = run();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err_end) << c.output;
    }
}

TEST_F(run_fixture, a_read_error_ends_the_run_and_keeps_earlier_tracks) {
    script->otherwise([](const recorded_request& request) {
        if (request.cdb[0] == 0xbe && address_of(request.cdb) >= 152) {
            return scripted_answer::check_condition(3, 0x11, 0);
        }
        return answer(request);
    });
    settings.quiet = 1;
    select({1, 2});
    const run_result r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("error returned from CD-DA read command:\n")) << r.err;
    EXPECT_EQ(read_bytes(dir / "track01.raw"), sectors_from(0, 100 * sector_bytes));
    EXPECT_EQ(read_bytes(dir / "track02.raw"), sectors_from(100, 52 * sector_bytes));
}

}  // namespace

namespace {

TEST_F(run_fixture, a_track_listed_out_of_order_gets_an_empty_header) {
    // Track 2 starts after the lead-out.
    const bytes toc{0, 26, 1, 2, 0, 0x10, 1, 0,    0,    0, 0, 0, 0, 0x10,
                    2, 0,  0, 0, 0, 200,  0, 0x10, 0xaa, 0, 0, 0, 0, 100};
    script->otherwise([&](const recorded_request& request) {
        return request.cdb[0] == 0x43 ? scripted_answer::completed(toc) : answer(request);
    });
    settings.selected_format = &output_formats[3];  // wav
    settings.quiet = 1;
    select({2});
    const run_result r = run();
    EXPECT_EQ(r.status, 0);
    const auto wav = make_wav_header(0);
    EXPECT_EQ(read_bytes(dir / "track02.wav"), bytes(wav.begin(), wav.end()));
}

}  // namespace

namespace {

// Track 2 ends, at the lead-out, before it starts: it holds no sectors, so
// nothing of it is planned, read or summed, whatever the drive claims.
struct backwards_track_fixture : run_fixture {
    void SetUp() override {
        run_fixture::SetUp();
        script->otherwise([](const recorded_request& request) {
            return request.cdb[0] == 0x43
                       ? scripted_answer::completed(toc_of({{0x10, 0}, {0x10, 400}, {0x10, 0}}))
                       : answer(request);
        });
        select({1, 2});
    }
};

TEST_F(backwards_track_fixture, the_stream_header_and_the_progress_count_only_what_is_read) {
    settings.selected_format = &output_formats[3];  // wav
    settings.output_name = "-";
    settings.quiet = 1;
    settings.verbosity = 1;
    clock.step = 3000000;  // a progress line at every check
    const run_result r = run();
    EXPECT_EQ(r.status, 0) << r.err;
    const auto wav = make_wav_header(400 * sector_bytes);
    const bytes audio = sectors_from(0, 400 * sector_bytes);
    bytes expected(wav.begin(), wav.end());
    expected.insert(expected.end(), audio.begin(), audio.end());
    EXPECT_EQ(bytes(r.out.begin(), r.out.end()), expected);
    // Clock readings: run start, each track's start, three progress checks, run end.
    EXPECT_TRUE(r.err.ends_with("  track: 71% done, 0:04 to go,  total: 78% done,  0:03 to go\r" +
                                transfer_statistics(400, 3000000, 21000000)))
        << r.err;
}

TEST_F(backwards_track_fixture, the_totals_row_counts_only_what_is_read) {
    settings.index_only = 1;
    const run_result r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, header +
                         "    1    0:05'25       0     399     940800     86168     205  audio\n"
                         "    2          -     400      -1    -940800         -       -  audio\n"
                         "---------------------------------------------------------------------\n"
                         " total   0:05'25     400 sectors     940800     87004     205\n");
}

}  // namespace

namespace {

TEST_F(run_fixture, a_table_of_contents_of_a_hundred_tracks_reaches_the_last) {
    // L = 810: 100 tracks of 10 sectors and the lead-out.
    bytes toc{0x03, 0x2a, 1, 100};
    for (int i = 0; i <= 100; ++i) {
        toc.insert(toc.end(),
                   {0, 0x10, static_cast<std::uint8_t>(i + 1), 0, 0, 0,
                    static_cast<std::uint8_t>(i * 10 >> 8), static_cast<std::uint8_t>(i * 10)});
    }
    script->otherwise([&](const recorded_request& request) {
        return request.cdb[0] == 0x43 ? scripted_answer::completed(toc) : answer(request);
    });
    settings.output_name = "-";
    settings.quiet = 1;
    select({100, 101});
    const run_result r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(
                         reinterpret_cast<const char*>(sectors_from(990, 10 * sector_bytes).data()),
                         10 * sector_bytes));
}

}  // namespace
