#include "sum/audio_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/common_test_util.h"
#include "common/program_name.h"
#include "sum/sum_test_util.h"

namespace {

std::string le16(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8)};
}
std::string le32(std::uint32_t v) {
    return le16(v) + le16(v >> 16);
}

// A WAV header with chosen fields and chunks, as other programs write them.
std::string wav(std::uint32_t format, std::uint32_t channels, std::uint32_t rate,
                std::uint32_t bits, const std::string& extra_chunks, std::uint32_t data_bytes) {
    const std::string fmt = le16(format) + le16(channels) + le32(rate) +
                            le32(rate * channels * bits / 8) + le16(channels * bits / 8) +
                            le16(bits);
    return "RIFF" + le32(0) + "WAVE" + "fmt " + le32(16) + fmt + extra_chunks + "data" +
           le32(data_bytes);
}

struct placed {
    bool ok;
    audio_placement placement;
    std::string error;
};

placed place(const std::string& file, std::optional<audio_format> forced = std::nullopt) {
    placed result;
    result.ok = place_audio(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(),
                            file.size(), forced, result.placement, result.error);
    return result;
}

}  // namespace

TEST(place_audio, finds_the_audio_behind_the_headers_vorka_writes) {
    const std::string audio = pattern_audio(7, 3);
    const struct {
        const char* format;
        std::uint64_t offset;
        bool big_endian;
    } cases[] = {{"wav", 44, false}, {"aiff", 54, true}, {"au", 28, true}};
    for (const auto& c : cases) {
        const placed p = place(as_format(c.format, audio));
        ASSERT_TRUE(p.ok) << c.format << ": " << p.error;
        EXPECT_EQ(p.placement.offset, c.offset) << c.format;
        EXPECT_EQ(p.placement.bytes, audio.size()) << c.format;
        EXPECT_EQ(p.placement.big_endian, c.big_endian) << c.format;
        // Naming the format the header shows changes nothing.
        const placed forced = place(as_format(c.format, audio), audio_format_named(c.format));
        EXPECT_TRUE(forced.ok) << c.format << ": " << forced.error;
    }
    for (const char* raw : {"pcm", "mcp"}) {
        const placed p = place(as_format(raw, audio), audio_format_named(raw));
        ASSERT_TRUE(p.ok) << raw;
        EXPECT_EQ(p.placement.offset, 0u);
        EXPECT_EQ(p.placement.bytes, audio.size());
        EXPECT_EQ(p.placement.big_endian, std::string(raw) == "mcp");
    }
}

TEST(place_audio, follows_the_chunks_of_other_writers_and_trusts_the_file_over_its_header) {
    // A LIST chunk of odd size (padded) before the audio; a declared size
    // past the end of the file (a truncated file) counts what is there.
    const std::string list = "LIST" + le32(5) + "abcde" + '\0';
    const std::string file = wav(1, 2, 44100, 16, list, 4000) + std::string(400, 'x');
    const placed p = place(file);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.placement.offset, 44u + list.size());
    EXPECT_EQ(p.placement.bytes, 400u);
    // A declared size short of the file's end (chunks after the audio).
    const placed shorter = place(wav(1, 2, 44100, 16, "", 8) + std::string(400, 'x'));
    ASSERT_TRUE(shorter.ok) << shorter.error;
    EXPECT_EQ(shorter.placement.bytes, 8u);
}

TEST(place_audio, refuses_what_is_not_cd_audio) {
    const std::string cd = pattern_audio(0, 1);
    std::string aiff_48k = as_format("aiff", cd);
    aiff_48k[30] = static_cast<char>(0xbb);  // 48000 Hz: mantissa 0xbb80...
    aiff_48k[31] = static_cast<char>(0x80);
    std::string au_mono = as_format("au", cd);
    au_mono[23] = 1;
    std::string au_8bit = as_format("au", cd);
    au_8bit[15] = 2;  // 8-bit linear
    const struct {
        std::string file;
        std::optional<audio_format> forced;
        const char* error;
    } cases[] = {
        {wav(1, 1, 44100, 16, "", 4),
         {},
         "not CD audio (44100 Hz, 16-bit, stereo PCM): 1 channels"},
        {wav(1, 2, 48000, 16, "", 4), {}, "not CD audio (44100 Hz, 16-bit, stereo PCM): 48000 Hz"},
        {wav(1, 2, 44100, 8, "", 4),
         {},
         "not CD audio (44100 Hz, 16-bit, stereo PCM): 8-bit samples"},
        {wav(3, 2, 44100, 32, "", 4),
         {},
         "not CD audio (44100 Hz, 16-bit, stereo PCM): WAV format 3"},
        {"RIFF" + le32(0) + "WAVE" + "data" + le32(4) + "abcd",
         {},
         "damaged WAV header: no format chunk before the audio"},
        {"RIFF" + le32(0) + "WAVE" + "fmt " + le32(16) + std::string(16, '\0'),
         {},
         "not CD audio (44100 Hz, 16-bit, stereo PCM): WAV format 0"},
        {wav(1, 2, 44100, 16, "", 4).substr(0, 36), {}, "damaged WAV header: no data chunk"},
        {aiff_48k,
         {},
         "not CD audio (44100 Hz, 16-bit, stereo PCM): a sample rate other than 44100 Hz"},
        {as_format("aiff", cd).substr(0, 30),
         {},
         "damaged AIFF header: the COMM chunk is too short"},
        {au_mono, {}, "not CD audio (44100 Hz, 16-bit, stereo PCM): 1 channels"},
        {au_8bit, {}, "not CD audio (44100 Hz, 16-bit, stereo PCM): AU encoding 2"},
        {".snd" + std::string(8, '\0'), {}, "damaged AU header: too short"},
        {"ID3 not audio at all",
         {},
         "not a WAV, AIFF, AU or FLAC file (give -f pcm or -f mcp for raw PCM)"},
        {as_format("wav", cd), audio_format::aiff, "a WAV file, not AIFF"},
        {cd, audio_format::wav, "no WAV header"},
        {wav(1, 2, 44100, 16, "", 6) + "abcdef",
         {},
         "the audio ends inside a sample frame (6 bytes, not a multiple of 4)"},
        {cd + "xy", audio_format::pcm,
         "the audio ends inside a sample frame (2354 bytes, not a multiple of 4)"},
    };
    for (const auto& c : cases) {
        const placed p = place(c.file, c.forced);
        EXPECT_FALSE(p.ok) << c.error;
        EXPECT_EQ(p.error, c.error);
    }
}

TEST(audio_file, reads_frames_in_cd_order_with_silence_around_the_file) {
    set_program_name("vorkasum");
    temp_dir dir;
    const std::string audio = pattern_audio(3, 2);  // 1176 frames
    for (const char* format : {"wav", "aiff", "au", "mcp"}) {
        const std::string path = dir / format;
        write_file(path, as_format(format, audio));
        const auto forced =
            std::string(format) == "mcp" ? audio_format::mcp : std::optional<audio_format>();
        const auto file = audio_file::open(path, forced);
        ASSERT_NE(file, nullptr) << format;
        EXPECT_EQ(file->frames(), 1176u);
        std::string got(1186 * 4, '\x55');
        ASSERT_TRUE(file->read(-5, 1186, reinterpret_cast<std::uint8_t*>(got.data())));
        EXPECT_EQ(got.substr(0, 20), std::string(20, '\0')) << format;
        EXPECT_EQ(got.substr(20, audio.size()), audio) << format;
        EXPECT_EQ(got.substr(20 + audio.size()), std::string(20, '\0')) << format;
        std::string outside(8, '\x55');
        ASSERT_TRUE(file->read(5000, 2, reinterpret_cast<std::uint8_t*>(outside.data())));
        EXPECT_EQ(outside, std::string(8, '\0'));
    }
}

TEST(audio_file, names_the_file_and_the_reason_when_it_cannot_be_used) {
    set_program_name("vorkasum");
    temp_dir dir;
    write_file(dir / "text.wav", "hello");
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {dir / "missing.wav",
         "vorkasum: " + (dir / "missing.wav").string() + ": No such file or directory\n"},
        {dir.path().string(), "vorkasum: " + dir.path().string() + ": not a regular file\n"},
        {dir / "text.wav",
         "vorkasum: " + (dir / "text.wav").string() +
             ": not a WAV, AIFF, AU or FLAC file (give -f pcm or -f mcp for raw PCM)\n"},
    };
    for (const auto& c : cases) {
        const run_result run = run_captured(
            [&] { EXPECT_EQ(audio_file::open(c.path, std::nullopt), nullptr) << c.path; });
        EXPECT_EQ(run.err, c.message);
    }
}
