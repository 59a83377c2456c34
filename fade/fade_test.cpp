#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "fade/fade_engine.h"
#include "fade/fade_main.h"
#include "fade/gain_steps.h"
#include "fade/offsets.h"
#include "fade/scale.h"

namespace {

constexpr std::int32_t unity = fade_unity_gain;
constexpr std::int64_t ten_seconds = 10 * frames_per_second;

// The stepping rule exactly as it reads, one frame at a time, with an
// accumulator wide enough for every length used here.
std::vector<std::int32_t> reference_gains(std::int32_t start, std::int32_t end,
                                          std::int64_t length) {
    std::vector<std::int32_t> gains;
    std::int64_t gain = start;
    std::int64_t error_sum = 0;
    const std::int64_t half = length / 2;
    const std::int64_t delta = end - start;
    for (std::int64_t k = 0; k <= length; ++k) {
        gains.push_back(static_cast<std::int32_t>(gain));
        error_sum += delta;
        if (std::llabs(error_sum) + half >= length) {
            const std::int64_t step =
                error_sum > 0 ? (error_sum + half) / length : (error_sum - half) / length;
            gain += step;
            error_sum -= length * step;
        }
    }
    return gains;
}

// start + k * delta / length rounded to the nearest, an exact half away from
// zero: what the rule amounts to, computable for any k without stepping.
std::int32_t closed_form_gain(std::int32_t start, std::int32_t end, std::int64_t length,
                              std::int64_t k) {
    const __int128 delta = end - start;
    const __int128 magnitude = delta < 0 ? -delta : delta;
    const __int128 rounded = (2 * magnitude * k + length) / (2 * __int128{length});
    return static_cast<std::int32_t>(start + (delta < 0 ? -rounded : rounded));
}

std::vector<std::int32_t> stepper_gains(std::int32_t start, std::int32_t end, std::int64_t length) {
    std::vector<std::int32_t> gains;
    gain_stepper steps(start, end, length);
    while (static_cast<std::int64_t>(gains.size()) <= length) {
        const std::int64_t run = std::min(steps.frames_at_current_gain(),
                                          length + 1 - static_cast<std::int64_t>(gains.size()));
        gains.insert(gains.end(), static_cast<std::size_t>(run), steps.gain());
        steps.advance(run);
    }
    return gains;
}

std::int16_t sample_at(const std::vector<std::uint8_t>& bytes, std::size_t index) {
    return static_cast<std::int16_t>(bytes[index * 2] | (bytes[index * 2 + 1] << 8));
}

void put_sample(std::vector<std::uint8_t>& bytes, std::size_t index, std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    bytes[index * 2] = static_cast<std::uint8_t>(bits & 0xff);
    bytes[index * 2 + 1] = static_cast<std::uint8_t>(bits >> 8);
}

// What the file must hold after a fade: every frame of the region scaled by
// the plain rule's gain with a 64-bit product and a truncating division.
std::vector<std::uint8_t> reference_fade(std::vector<std::uint8_t> bytes, std::int64_t start,
                                         std::int32_t start_gain, std::int64_t end,
                                         std::int32_t end_gain) {
    const auto gains = reference_gains(start_gain, end_gain, end - start);
    for (std::int64_t k = 0; k <= end - start; ++k) {
        for (std::size_t channel = 0; channel < 2; ++channel) {
            const std::size_t index = static_cast<std::size_t>((start + k) * 2) + channel;
            const std::int64_t product = std::int64_t{sample_at(bytes, index)} * gains[k];
            put_sample(bytes, index, static_cast<std::int16_t>(product / unity));
        }
    }
    return bytes;
}

// Where two file contents first differ ("same" when they do not), so that a
// failure names a byte instead of printing megabytes.
std::string first_difference(const std::string& actual, const std::string& expected) {
    if (actual.size() != expected.size()) {
        return "size " + std::to_string(actual.size()) + " instead of " +
               std::to_string(expected.size());
    }
    const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (mismatch.first == actual.end()) {
        return "same";
    }
    return "byte " + std::to_string(mismatch.first - actual.begin());
}

std::string as_string(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> random_bytes(std::mt19937_64& random, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

void fade_file(const std::filesystem::path& path, std::int64_t start, std::int32_t start_gain,
               std::int64_t end, std::int32_t end_gain) {
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    const run_result result =
        run_captured([&] { fade_region(fd, unity, start, start_gain, end, end_gain); });
    ::close(fd);
    EXPECT_EQ(result.status, 0) << result.err;
}

run_result run_fade(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"vorkfade"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return run_captured([&] { fade_main(static_cast<int>(words.size()), argv.data()); });
}

const char* const usage_text =
    "Usage:  vorkfade <0% offset> <100% offset> <PCM file>\n"
    "The following formats can be used for offsets:\n"
    "   [-][<minutes>]:<seconds>\n"
    "   [-]<samples>\n"
    "<minutes> is an integer value, default is 0.\n"
    "<seconds> is an integer OR floating point value (can be >= 60).\n"
    "<samples> is an integer value (1 sample = 4 bytes).\n"
    "Negative values are relative to the end of the file.\n"
    "if <0% offset>  <  <100% offset>, a fade-in is created.\n"
    "if <0% offset>  >  <100% offset>, a fade-out is created.\n"
    "Note: the samples are assumed to be 44.1 kHz signed 16 bit stereo:\n"
    "      1 second = 44100 samples = 176400 bytes.\n"
    "WARNING: the <PCM file> is modified in place, so make a backup copy!\n";

}  // namespace

TEST(vorkfade, prints_usage_with_status_0_unless_given_three_arguments) {
    temp_dir dir;
    write_file(dir / "a.pcm", std::string(400, '\x11'));
    const std::string path = dir / "a.pcm";
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{}, {"0"}, {"0", "1"}, {"0", "1", path, "extra"}}) {
        const run_result result = run_fade(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, usage_text);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(read_file(path), std::string(400, '\x11'));

    const run_result program = run_program({"vorkfade"});
    EXPECT_EQ(program.status, 0);
    EXPECT_EQ(program.err, usage_text);
    // A usage text that could not be written is no success.
    const run_result lost =
        run_program({"/bin/sh", "-c", "exec \"$0\" 2>/dev/full", program_path("vorkfade")});
    EXPECT_EQ(lost.status, 1);
}

TEST(parse_offset, reads_both_forms_from_both_ends_of_a_ten_second_file) {
    const struct {
        const char* text;
        std::int64_t offset;
    } cases[] = {
        {"0", 0},
        {"44100", 44100},
        {"0x100", 256},
        {"0X100", 256},
        {"010", 8},
        {"-1", ten_seconds - 1},
        {"0:2.5", 110250},
        {"-0:02", 8 * 44100},
        {"+  5", 5},
        {" \t5 \r\n", 5},
        {"- 1", ten_seconds - 1},
        {"0 : 02 ", 2 * 44100},
        {":", 0},
        {"0:", 0},
        {":9.99998", 440999},
        {":9.99999", -1},  // rounds to the frame just past the end
        {"0:1e0", 44100},
        {"0:.5", 22050},
        {"0: +2", 2 * 44100},
        {"0:0x1p1", 2 * 44100},  // the C library's hexadecimal floats
        {": 0x1.8p1", 3 * 44100},
        {"1e1", -1},         // a count has no exponent
        {"0:0.0000113", 0},  // 0.498 frames rounds down
        {"0:0.0000114", 1},  // 0.503 frames rounds up
        {"-0:0.0000114", ten_seconds - 1},
        {"441000", -1},  // the size itself
        {"1:30", -1},
        {":90", -1},
        {"-0", -1},
        {"-0:00", -1},
        {"-:", -1},
        {"08", -1},
        {"2.5", -1},
        {"1:2:3", -1},
        {"", -1},
        {"   ", -1},
        {"+", -1},
        {"-", -1},
        {"1x:00", -1},
        {"0:2x", -1},
        {"0:x", -1},
        {"0:inf", -1},
        {"0:nan", -1},
        {"0:1e300", -1},
        {"0:-1", -1},
        {"--5", -1},  // a second sign is no number
        {"+-5", -1},
        {"--18446744073709551615", -1},
        {"--5:00", -1},
        {"18446744073709551616", -1},
        {"99999999999999999999:00", -1},
        {"307445734561825861:00", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_offset(c.text, ten_seconds), c.offset) << '"' << c.text << '"';
    }
    EXPECT_EQ(parse_offset("0", 0), -1);
    EXPECT_EQ(parse_offset("-1", 2), 1);
    EXPECT_EQ(parse_offset("1:", 60 * 44100 + 1), 60 * 44100);
}

TEST(format_play_time, prints_minutes_seconds_and_hundred_thousandths) {
    const struct {
        std::int64_t frames;
        const char* text;
    } cases[] = {
        {0, " 0:00.00000"},          {1, " 0:00.00002"},
        {44099, " 0:00.99998"},      {ten_seconds, " 0:10.00000"},
        {90 * 44100, " 1:30.00000"}, {100 * 60 * 44100 + 22050, "100:00.50000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_play_time(c.frames), c.text) << c.frames;
    }
}

TEST(vorkfade, reports_the_fade_and_applies_it) {
    temp_dir dir;
    const std::string path = dir / "tone.pcm";
    std::vector<std::uint8_t> tone(static_cast<std::size_t>(ten_seconds * frame_bytes));
    for (std::size_t i = 0; i < tone.size() / 2; ++i) {
        put_sample(tone, i, static_cast<std::int16_t>(i % 2 == 0 ? 20000 : -20000));
    }
    const struct {
        const char* silent;
        const char* full;
        std::int64_t start, end;
        std::int32_t start_gain, end_gain;
        const char* report;
    } cases[] = {
        {"0:02", "0:05", 2 * 44100, 5 * 44100, 0, unity,
         "Size (in samples):    441000 /  0:10.00000\n"
         "Fading from   0% at    88200 /  0:02.00000\n"
         "         to 100% at   220500 /  0:05.00000\n"
         "Duration of fade:     132300 /  0:03.00000\n"},
        {"-1", "-0:01", 9 * 44100, ten_seconds - 1, unity, 0,
         "Size (in samples):    441000 /  0:10.00000\n"
         "Fading from 100% at   396900 /  0:09.00000\n"
         "         to   0% at   440999 /  0:09.99998\n"
         "Duration of fade:      44099 /  0:00.99998\n"},
    };
    for (const auto& c : cases) {
        write_file(path, as_string(tone));
        const run_result result = run_fade({c.silent, c.full, path});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, "File:  " + path + "\n" + c.report);
        EXPECT_EQ(first_difference(
                      read_file(path),
                      as_string(reference_fade(tone, c.start, c.start_gain, c.end, c.end_gain))),
                  "same");
    }
    // The fade-out's last frame is the file's last frame, now silent.
    const auto faded = read_bytes(path);
    EXPECT_EQ(sample_at(faded, faded.size() / 2 - 1), 0);
    EXPECT_EQ(sample_at(faded, faded.size() / 2 - 2), 0);
}

TEST(vorkfade, refuses_bad_offsets_and_warns_about_a_partial_frame) {
    temp_dir dir;
    const std::string path = dir / "a.pcm";
    const struct {
        std::string contents;
        const char* silent;
        const char* full;
        int status;
        const char* err;
    } cases[] = {
        {std::string(static_cast<std::size_t>(ten_seconds * 4), '\x7f'), "44100", "0:01", 1,
         "vorkfade: start offset and end offset must be different.\n"},
        {std::string(static_cast<std::size_t>(ten_seconds * 4), '\x7f'), "junk", "also junk", 1,
         "vorkfade: Offset specification invalid or out of range.\n"},
        {std::string(static_cast<std::size_t>(ten_seconds * 4), '\x7f'), "0", "441000", 1,
         "vorkfade: Offset specification invalid or out of range.\n"},
        {"", "0", "0", 1, "vorkfade: Offset specification invalid or out of range.\n"},
        {"0123456789", "0", "2", 1,
         "vorkfade: Warning: file size is not a multiple of 4.\n"
         "vorkfade: Offset specification invalid or out of range.\n"},
        {"0123456789", "0", "-1", 0, "vorkfade: Warning: file size is not a multiple of 4.\n"},
    };
    for (const auto& c : cases) {
        write_file(path, c.contents);
        const run_result result = run_fade({c.silent, c.full, path});
        EXPECT_EQ(result.status, c.status) << c.silent << ' ' << c.full;
        EXPECT_EQ(result.err, c.err);
        if (c.status != 0) {
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(first_difference(read_file(path), c.contents), "same");
        }
    }
    // The 10-byte file: frame 0 silenced, frame 1 unchanged, the last two
    // bytes untouched, the length unchanged.
    std::string expected(4, '\0');
    expected += "456789";
    EXPECT_EQ(read_file(path), expected);

    const run_result missing = run_fade({"0", "1", dir / "missing.pcm"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "vorkfade: " + (dir / "missing.pcm").string() + ": No such file or directory\n");
}

// A report that cannot be written fails the run before the file is touched,
// so that a script never takes an unreported fade for a missing one.  With
// standard output or standard error closed, the PCM file must not take the
// place of the closed stream.
TEST(vorkfade, fails_untouched_when_the_report_cannot_be_written) {
    temp_dir dir;
    const std::string path = dir / "a.pcm";
    const std::string contents(402, '\x11');
    const char* const warning = "vorkfade: Warning: file size is not a multiple of 4.\n";
    const struct {
        const char* redirection;
        int status;
        const char* err;
    } cases[] = {
        {">/dev/full", 1, "vorkfade: write(): No space left on device\n"},
        {">&-", 1, "vorkfade: write(): Bad file descriptor\n"},
        // The warning about the partial frame is lost: a failure, so the
        // file must stay as it was.
        {"2>&-", 1, ""},
        {"2>/dev/full", 1, ""},
    };
    for (const auto& c : cases) {
        write_file(path, contents);
        const std::string command = std::string("exec \"$0\" 0 1 \"$1\" ") + c.redirection;
        const run_result result =
            run_program({"/bin/sh", "-c", command, program_path("vorkfade"), path});
        EXPECT_EQ(result.status, c.status) << c.redirection;
        const bool err_lost = c.redirection[0] == '2';
        EXPECT_EQ(result.err, std::string(err_lost ? "" : warning) + c.err) << c.redirection;
        EXPECT_EQ(first_difference(read_file(path), contents), "same") << c.redirection;
    }
    // With nothing to warn about, a closed standard error loses nothing.
    write_file(path, contents.substr(0, 400));
    const run_result quiet = run_program(
        {"/bin/sh", "-c", "exec \"$0\" 0 1 \"$1\" 2>&-", program_path("vorkfade"), path});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(first_difference(read_file(path), std::string(4, '\0') + contents.substr(4, 396)),
              "same");
}

TEST(gain_stepper, gives_the_worked_gains) {
    const struct {
        std::int64_t length;
        std::int32_t start, end;
        std::vector<std::int32_t> gains;
    } cases[] = {
        {1, 0, unity, {0, 65536}},
        {2, unity, 0, {65536, 32768, 0}},
        {3, 0, unity, {0, 21845, 43691, 65536}},
        {4, 0, unity, {0, 16384, 32768, 49152, 65536}},
        {4, unity, 0, {65536, 49152, 32768, 16384, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reference_gains(c.start, c.end, c.length), c.gains) << c.length;
        EXPECT_EQ(stepper_gains(c.start, c.end, c.length), c.gains) << c.length;
    }
}

TEST(gain_stepper, runs_of_equal_gains_match_the_per_frame_rule) {
    std::mt19937_64 random(1);
    std::vector<std::int64_t> lengths{1, 2, 3, 5, 65535, 65536, 65537, 131071, 131072, 1000003};
    for (int i = 0; i < 200; ++i) {
        lengths.push_back(1 + static_cast<std::int64_t>(random() % 300000));
    }
    for (const std::int64_t length : lengths) {
        for (const bool fade_in : {true, false}) {
            const std::int32_t start = fade_in ? 0 : unity;
            const std::int32_t end = fade_in ? unity : 0;
            const auto expected = reference_gains(start, end, length);
            ASSERT_EQ(stepper_gains(start, end, length), expected) << length;
            for (std::int64_t k = 0; k <= length; k += 1 + length / 97) {
                ASSERT_EQ(closed_form_gain(start, end, length, k), expected[k]) << length;
            }
        }
    }
}

// Fades of days and beyond: a 32-bit error sum would overflow after about
// 2^31 / 65536 steps into the fade, far too many frames to step one by one,
// so every run's first and last frame are checked against the closed form.
TEST(gain_stepper, long_fades_step_as_short_ones_do) {
    for (const std::int64_t length : {std::int64_t{1} << 32, (std::int64_t{1} << 33) + 12345,
                                      std::int64_t{1} << 40, (std::int64_t{1} << 61) - 1}) {
        for (const bool fade_in : {true, false}) {
            const std::int32_t start = fade_in ? 0 : unity;
            const std::int32_t end = fade_in ? unity : 0;
            gain_stepper steps(start, end, length);
            std::int64_t k = 0;
            while (k <= length) {
                const std::int64_t run = std::min(steps.frames_at_current_gain(), length + 1 - k);
                ASSERT_EQ(steps.gain(), closed_form_gain(start, end, length, k)) << length;
                ASSERT_EQ(steps.gain(), closed_form_gain(start, end, length, k + run - 1));
                if (k + run <= length) {
                    ASSERT_NE(steps.gain(), closed_form_gain(start, end, length, k + run));
                }
                steps.advance(run);
                k += run;
            }
            EXPECT_EQ(closed_form_gain(start, end, length, length), end);
        }
    }
}

TEST(scale_samples, truncates_toward_zero) {
    const struct {
        std::int16_t sample;
        std::int32_t gain;
        std::int32_t unity;
        std::int16_t result;
    } cases[] = {
        {3, unity / 2, unity, 1},
        {-3, unity / 2, unity, -1},
        {-1, 1, unity, 0},
        {32767, unity - 1, unity, 32766},
        {-32768, unity, unity, -32768},
        {-32768, unity - 1, unity, -32767},
        {32767, unity, unity, 32767},
        {12345, 0, unity, 0},
        {-12345, 0, unity, 0},
        {-7, 1, 2, -3},
        {7, 2, 3, 4},
    };
    for (const auto& c : cases) {
        std::vector<std::int16_t> samples(37, c.sample);  // long enough to vectorise
        scale_samples(samples.data(), samples.size(), c.gain, c.unity);
        EXPECT_EQ(samples, std::vector<std::int16_t>(37, c.result))
            << c.sample << " * " << c.gain << " / " << c.unity;
    }
}

// Every kernel this processor runs, on every 16-bit sample, against a
// 64-bit product and a truncating division; odd lengths leave tails that the
// vector kernels hand back.
TEST(scale_samples, every_kernel_matches_the_plain_division) {
    std::vector<std::int16_t> all_samples;
    for (std::int32_t value = -32768; value <= 32767; ++value) {
        all_samples.push_back(static_cast<std::int16_t>(value));
    }
    all_samples.push_back(-32768);  // an odd length
    std::vector<std::int32_t> gains{0, 1, 2, 255, 256, 21845, 32767, 32768, 32769, 43691, 65535};
    std::mt19937_64 random(3);
    for (int i = 0; i < 20; ++i) {
        gains.push_back(static_cast<std::int32_t>(random() % unity));
    }
    const scale_kernel* kernels = nullptr;
    const std::size_t kernel_count = available_scale_kernels(&kernels);
    for (const std::int32_t gain : gains) {
        std::vector<std::int16_t> expected = all_samples;
        for (auto& sample : expected) {
            sample = static_cast<std::int16_t>(std::int64_t{sample} * gain / unity);
        }
        for (std::size_t k = 0; k < kernel_count; ++k) {
            std::vector<std::int16_t> samples = all_samples;
            const std::size_t done =
                kernels[k].run(samples.data(), samples.size(), static_cast<std::uint16_t>(gain));
            EXPECT_GE(done + 32, samples.size()) << kernels[k].name;  // less than a vector left
            EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + done, expected.begin()))
                << kernels[k].name << " at gain " << gain;
        }
        std::vector<std::int16_t> samples = all_samples;
        scale_samples(samples.data(), samples.size(), gain, unity);
        EXPECT_EQ(samples, expected) << "gain " << gain;
    }
}

// Whole files against the plain per-frame rule: random lengths and offsets,
// fades that end on, just before and just after a block boundary, and files
// with a trailing partial frame, which stays as it is.
TEST(fade_region, matches_the_per_frame_rule_over_random_files) {
    temp_dir dir;
    const auto path = dir / "random.pcm";
    std::mt19937_64 random(2);
    struct fade_case {
        std::int64_t file_frames, start, end;
        std::size_t trailing;
    };
    std::vector<fade_case> cases{
        {20000, 0, 16383, 0},  // exactly one block
        {20000, 0, 16384, 0},  // one block and one frame
        {40000, 5, 16388, 3},  // a block starting off the file's grid
        {40000, 7, 32774, 1},  // two full blocks
        {40000, 3, 32775, 2},  // two blocks and one frame
        {16385, 1, 16384, 3},  // up to the last complete frame
        {2, 0, 1, 2},
    };
    for (int i = 0; i < 150; ++i) {
        const std::int64_t file_frames = 2 + static_cast<std::int64_t>(random() % 60000);
        const std::int64_t a = static_cast<std::int64_t>(random() % file_frames);
        std::int64_t b = static_cast<std::int64_t>(random() % file_frames);
        if (b == a) {
            b = a == 0 ? 1 : a - 1;
        }
        cases.push_back({file_frames, std::min(a, b), std::max(a, b), random() % 4});
    }
    for (const auto& c : cases) {
        const auto original = random_bytes(
            random, static_cast<std::size_t>(c.file_frames * frame_bytes) + c.trailing);
        const bool fade_in = random() % 2 == 0;
        const std::int32_t start_gain = fade_in ? 0 : unity;
        const std::int32_t end_gain = fade_in ? unity : 0;
        write_file(path, as_string(original));
        fade_file(path, c.start, start_gain, c.end, end_gain);
        ASSERT_EQ(first_difference(
                      read_file(path),
                      as_string(reference_fade(original, c.start, start_gain, c.end, end_gain))),
                  "same")
            << c.file_frames << " frames, fade " << c.start << ".." << c.end;
    }
}

TEST(fade_region, reports_failed_seeks_and_writes) {
    temp_dir dir;
    const auto path = dir / "a.pcm";
    write_file(path, std::string(70000 * 4, '\x40'));
    set_program_name("vorkfade");

    // Reading works, the first block's write does not: nothing changes.
    const int read_only = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(read_only, 0);
    const run_result write_failure =
        run_captured([&] { fade_region(read_only, unity, 0, 0, 69999, unity); });
    ::close(read_only);
    EXPECT_EQ(write_failure.status, 1);
    EXPECT_EQ(write_failure.err, "vorkfade: write(): Bad file descriptor\n");
    EXPECT_EQ(first_difference(read_file(path), std::string(70000 * 4, '\x40')), "same");

    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    const run_result seek_failure =
        run_captured([&] { fade_region(pipe_ends[0], unity, 0, 0, 1, unity); });
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    EXPECT_EQ(seek_failure.status, 1);
    EXPECT_EQ(seek_failure.err, "vorkfade: lseek(): Illegal seek\n");

    // A file that has become shorter than the fade: the first block is
    // faded, the frames in the second are not written back, the length
    // stays.
    const std::string untouched(20000 * 4, '\x40');
    write_file(path, untouched);
    const int shrunk = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(shrunk, 0);
    const run_result early_end =
        run_captured([&] { fade_region(shrunk, unity, 0, unity, 40000, 0); });
    ::close(shrunk);
    EXPECT_EQ(early_end.status, 1);
    EXPECT_EQ(early_end.err, "vorkfade: read(): file ended before the end of the fade\n");
    const std::string contents = read_file(path);
    ASSERT_EQ(contents.size(), untouched.size());
    EXPECT_TRUE(contents.compare(0, 16384 * 4, untouched, 0, 16384 * 4) != 0);
    EXPECT_TRUE(contents.compare(16384 * 4, std::string::npos, untouched, 16384 * 4) == 0);
}
