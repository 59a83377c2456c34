#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "common/exit.h"
#include "common/program_name.h"
#include "output/format.h"
#include "output/headers.h"
#include "output/listing.h"
#include "output/track_name.h"

namespace {

std::vector<std::uint8_t> bytes_of(const char* text, std::size_t size) {
    return {reinterpret_cast<const std::uint8_t*>(text),
            reinterpret_cast<const std::uint8_t*>(text) + size};
}

template <std::size_t size>
std::vector<std::uint8_t> as_vector(const std::array<std::uint8_t, size>& header) {
    return {header.begin(), header.end()};
}

[[noreturn]] void fake_help() {
    std::fputs("help\n", stderr);
    throw exit_request{1};
}

}  // namespace

TEST(format_table, has_six_rows_and_an_end_row) {
    const struct {
        const char* name;
        const char* extension;
        header_writer writer;
        int swap;
        bool encoded;
    } rows[] = {
        {"pcm", "raw", write_no_header, 0, false},     {"mcp", "war", write_no_header, 1, false},
        {"aiff", "aiff", write_aiff_header, 1, false}, {"wav", "wav", write_wav_header, 0, false},
        {"au", "au", write_au_header, 1, false},       {"flac", "flac", write_no_header, 0, true},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_STREQ(output_formats[i].name, rows[i].name);
        EXPECT_STREQ(output_formats[i].extension, rows[i].extension);
        EXPECT_EQ(output_formats[i].write_header, rows[i].writer);
        EXPECT_EQ(output_formats[i].byte_swap, rows[i].swap);
        EXPECT_EQ(output_formats[i].start_encoder != nullptr, rows[i].encoded);
    }
    EXPECT_EQ(output_formats[6].name, nullptr);
    EXPECT_EQ(&default_format(), &output_formats[0]);
}

TEST(format_table, lookup_ignores_case_and_unknown_names_print_the_help) {
    EXPECT_EQ(find_format("AIFF"), &output_formats[2]);
    EXPECT_EQ(find_format("Wav"), &output_formats[3]);
    EXPECT_EQ(find_format("FLAC"), &output_formats[5]);
    EXPECT_EQ(find_format("riff"), nullptr);
    EXPECT_EQ(find_format(""), nullptr);

    const format_entry* selected = &default_format();
    EXPECT_EQ(select_format("au", selected, fake_help), 0);
    EXPECT_EQ(select_format("pcm", selected, fake_help), 0);
    EXPECT_EQ(selected, &output_formats[0]);
    for (const char* name : {"sun", ""}) {
        const auto result = run_captured([&] { select_format(name, selected, fake_help); });
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "help\n");
    }
    EXPECT_EQ(selected, &output_formats[0]);
}

TEST(format_table, expansion_replaces_the_first_percent_s_only) {
    const struct {
        const char* name_template;
        const char* format;
        const char* expanded;
    } cases[] = {
        {"track%02d.%s", "pcm", "track%02d.raw"},
        {"track%02d.%s", "aiff", "track%02d.aiff"},
        {"track%02d.%s", "mcp", "track%02d.war"},
        {"-", "wav", "-"},
        {"out.pcm", "au", "out.pcm"},
        {"%s", "au", "au"},
        {"x%s%s", "wav", "xwav%s"},
        {"100%%s", "pcm", "100%raw"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(expand_output_name(c.name_template, *find_format(c.format)), c.expanded)
            << c.name_template;
    }
}

TEST(headers, match_the_golden_bytes) {
    // 2352 bytes: one sector, 588 frames.
    const char aiff[] =
        "FORM\x00\x00\x09\x5e"
        "AIFF"
        "COMM\x00\x00\x00\x12\x00\x02\x00\x00\x02\x4c\x00\x10"
        "\x40\x0e\xac\x44\x00\x00\x00\x00\x00\x00"
        "SSND\x00\x00\x09\x38\x00\x00\x00\x00\x00\x00\x00\x00";
    const char wav[] =
        "RIFF\x54\x09\x00\x00"
        "WAVE"
        "fmt \x10\x00\x00\x00\x01\x00\x02\x00\x44\xac\x00\x00\x10\xb1\x02\x00\x04\x00\x10\x00"
        "data\x30\x09\x00\x00";
    const char au[] =
        ".snd\x00\x00\x00\x1c\x00\x00\x09\x30\x00\x00\x00\x03\x00\x00\xac\x44\x00\x00\x00\x02"
        "vork";
    EXPECT_EQ(as_vector(make_aiff_header(2352)), bytes_of(aiff, 54));
    EXPECT_EQ(as_vector(make_wav_header(2352)), bytes_of(wav, 44));
    EXPECT_EQ(as_vector(make_au_header(2352)), bytes_of(au, 28));
}

TEST(headers, size_fields_hold_the_low_32_bits) {
    const auto be32 = [](const auto& h, int at) {
        return std::uint32_t{h[at]} << 24 | std::uint32_t{h[at + 1]} << 16 |
               std::uint32_t{h[at + 2]} << 8 | h[at + 3];
    };
    const auto le32 = [](const auto& h, int at) {
        return std::uint32_t{h[at + 3]} << 24 | std::uint32_t{h[at + 2]} << 16 |
               std::uint32_t{h[at + 1]} << 8 | h[at];
    };
    const struct {
        std::uint64_t n;
        std::uint32_t form, frames, ssnd, riff, data;
    } cases[] = {
        {0, 46, 0, 8, 36, 0},
        {(1ull << 32) + 8, 54, 0x40000002, 16, 44, 8},  // frames from the full size, then cut
        {0xFFFFFFFFull, 45, 0x3FFFFFFF, 7, 35, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        const auto aiff = make_aiff_header(c.n);
        const auto wav = make_wav_header(c.n);
        EXPECT_EQ(be32(aiff, 4), c.form) << c.n;
        EXPECT_EQ(be32(aiff, 22), c.frames) << c.n;
        EXPECT_EQ(be32(aiff, 42), c.ssnd) << c.n;
        EXPECT_EQ(le32(wav, 4), c.riff) << c.n;
        EXPECT_EQ(le32(wav, 40), c.data) << c.n;
        EXPECT_EQ(be32(make_au_header(c.n), 8), c.data) << c.n;
    }
}

TEST(headers, writers_write_the_header_alone_and_report_failures) {
    set_program_name("vorka");
    temp_dir dir;
    const struct {
        header_writer writer;
        std::size_t size;
    } cases[] = {{write_no_header, 0},
                 {write_aiff_header, aiff_header_size},
                 {write_wav_header, wav_header_size},
                 {write_au_header, au_header_size}};
    for (const auto& c : cases) {
        const std::string path = dir / "h";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        c.writer(2352, fd);
        ::close(fd);
        EXPECT_EQ(read_bytes(path).size(), c.size);
    }
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    const auto result = run_captured([&] { write_wav_header(0, full); });
    ::close(full);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "vorka: write(): No space left on device\n");
}

// The files must be readable by a reader that is not ours: python's own
// wave, aifc and sunau modules open each one and return our samples.
TEST(headers, are_read_by_an_independent_reader) {
    temp_dir dir;
    std::vector<std::uint8_t> payload(2352 * 3);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    const struct {
        const char* format;
        const char* module;
    } cases[] = {{"wav", "wave"}, {"aiff", "aifc"}, {"au", "sunau"}};
    for (const auto& c : cases) {
        const std::string path = dir / (std::string("t.") + c.format);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        find_format(c.format)->write_header(payload.size(), fd);
        ASSERT_EQ(::write(fd, payload.data(), payload.size()),
                  static_cast<ssize_t>(payload.size()));
        ::close(fd);
        write_file(dir / "payload", std::string(payload.begin(), payload.end()));

        const std::string script =
            "import sys, warnings\n"
            "warnings.simplefilter('ignore')\n"
            "try:\n"
            "    import " +
            std::string(c.module) +
            " as m\n"
            "except ImportError:\n"
            "    sys.exit(77)\n"
            "f = m.open(sys.argv[1], 'rb')\n"
            "frames = f.readframes(f.getnframes())\n"
            "same = frames == open(sys.argv[2], 'rb').read()\n"
            "print(f.getnchannels(), f.getsampwidth(), f.getframerate(), f.getnframes(), same)\n";
        const auto result = run_program(
            {"/usr/bin/env", "python3", "-c", script, path, (dir / "payload").string()});
        if (result.status == 77) {
            GTEST_SKIP() << "python3 has no " << c.module << " module";
        }
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "2 2 44100 1764 True\n") << c.format << result.err;
    }
}

namespace {

std::string listing_row(listing_sums& sums, int kbps, int number, int count, std::int64_t start,
                        std::int64_t end, int kind) {
    return run_captured([&] { print_listing_row(sums, kbps, number, count, start, end, kind); })
        .err;
}

}  // namespace

TEST(listing, header_shows_the_bit_rate) {
    const auto result = run_captured([] { print_listing_header(64); });
    EXPECT_EQ(result.err,
              "\n"
              " track   playing  start    end     raw size  mp3 size   # of   track\n"
              " number   time    sector  sector   in bytes   64 kbps  frames  type\n"
              "---------------------------------------------------------------------\n");
    EXPECT_EQ(result.out, "");
}

TEST(listing, rows_show_every_kind_and_feed_the_totals) {
    listing_sums sums;
    const struct {
        int number, count;
        std::int64_t start, end;
        int kind;
        const char* row;
        std::int64_t audio_sum, playing_sum;
    } rows[] = {
        {1, 1, 0, 75, track_kind_audio,
         "    1    0:01'00       0      74     176400       394      39  audio\n", 75, 75},
        {2, 1, 75, 149, track_kind_video,
         "    2    0:00'74      75     148     174048         -       -  video\n", 75, 149},
        {3, 1, 149, 4649, track_kind_data,
         "    3          -     149    4648   10584000         -       -  data\n", 75, 149},
        {listing_range_row, 1, 4649, 4649, track_kind_audio,
         "        -    4649    4648          0         -       -  audio\n", 75, 149},
        {listing_range_row, 1, 10, 4510, track_kind_audio,
         "  1:00'00      10    4509   10584000     22519    2297  audio\n", 4575, 4649},
        {listing_totals_row, 2, 0, 10000, 1,
         "  1:01'74   10000 sectors   23520000     22914    2336\n", 4575, 4649},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(listing_row(sums, 3, r.number, r.count, r.start, r.end, r.kind), r.row)
            << r.number;
        EXPECT_EQ(sums.listed_audio_sectors, r.audio_sum) << r.number;
        EXPECT_EQ(sums.listed_playing_sectors, r.playing_sum) << r.number;
    }
}

TEST(listing, totals_without_audio_show_dashes_and_kbps_zero_gives_size_zero) {
    listing_sums sums;
    EXPECT_EQ(listing_row(sums, 128, listing_totals_row, 3, 0, 0, 1),
              "        -       0 sectors          0         -       -\n");
    EXPECT_EQ(listing_row(sums, 0, 1, 1, 0, 96, track_kind_audio),
              "    1    0:01'21       0      95     225792         0      49  audio\n");
    // A huge bit rate over a huge range must still print the true figures.
    EXPECT_EQ(listing_row(sums, 2147483647, listing_range_row, 1, 0, 2147483648LL, 1),
              "477218:35'23       0 2147483647 5050881540096 7686143374490890093 1096111446"
              "  audio\n");
}

TEST(track_names, integer_conversions_get_the_track_number) {
    const struct {
        const char* name;
        int track;
        const char* file;
        bool differs;  // each track number gives a name of its own
    } cases[] = {
        {"track%02d.raw", 1, "track01.raw", true},
        {"track%02d.raw", 100, "track100.raw", true},
        {"t%d-%i-%u-%o-%x-%X.wav", 42, "t42-42-42-52-2a-2A.wav", true},
        {"%-4d|%+d|% d|%#o|%#x|%.3d|%5.3d", 9, "9   |+9| 9|011|0x9|009|  009", true},
        {"%hhd %hd %ld %lld %lu %llx", 7, "7 7 7 7 7 7", true},
        {"100%% %d", 5, "100% 5", true},
        {"track%%.raw", 5, "track%.raw", false},
        {"x%%", 5, "x%", false},
        {"same.raw", 3, "same.raw", false},
    };
    set_program_name("vorka");
    for (const auto& c : cases) {
        const auto checked = run_captured([&] { check_track_name_template(c.name, c.name); });
        EXPECT_EQ(checked.status, 0) << c.name << checked.err;
        EXPECT_EQ(format_track_name(c.name, c.track), c.file) << c.name;
        EXPECT_EQ(names_each_track(c.name), c.differs) << c.name;
    }
}

TEST(track_names, any_other_conversion_is_refused) {
    const struct {
        const char* name;
        const char* conversion;
    } cases[] = {
        {"xwav%s", "%s"}, {"%n", "%n"},           {"a%5.2f", "%5.2f"}, {"%*d", "%*"},
        {"%.*d", "%.*"},  {"%5%", "%5%"},         {"trailing%", "%"},  {"%02", "%02"},
        {"%lc", "%lc"},   {"%99999d", "%99999d"}, {"%d%p", "%p"},      {"%Lf", "%L"},
    };
    set_program_name("vorka");
    for (const auto& c : cases) {
        const auto result = run_captured([&] { check_track_name_template(c.name, "shown"); });
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_EQ(result.err, std::string("vorka: Invalid conversion \"") + c.conversion +
                                  "\" in output file name \"shown\".\n")
            << c.name;
    }
}
