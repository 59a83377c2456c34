// Audio files under a cue sheet (WAVE, AIFF) and how the files a sheet names
// are found.

#include "image/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/common_test_util.h"
#include "image/disc_image.h"
#include "image/flac_test_util.h"
#include "image/test_audio.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bytes text(const std::string& s) {
    return {s.begin(), s.end()};
}

bytes number(std::uint64_t value, int size, bool big_endian) {
    bytes out(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
        out[static_cast<std::size_t>(big_endian ? size - 1 - i : i)] =
            static_cast<std::uint8_t>(value >> (8 * i));
    }
    return out;
}

bytes le(std::uint64_t value, int size) {
    return number(value, size, false);
}
bytes be(std::uint64_t value, int size) {
    return number(value, size, true);
}

// `frames` sample frames of the test pattern as a drive delivers them.
bytes pattern(std::uint32_t frames) {
    bytes audio((frames + 587) / 588 * 2352);
    for (std::uint32_t lba = 0; lba * 588 < frames; ++lba) {
        fill_test_audio(lba, audio.data() + lba * 2352);
    }
    audio.resize(frames * 4);
    return audio;
}

bytes swapped(bytes audio) {
    for (std::size_t i = 0; i + 1 < audio.size(); i += 2) {
        std::swap(audio[i], audio[i + 1]);
    }
    return audio;
}

bytes chunk(const std::string& tag, const bytes& payload, bool big_endian = false,
            std::uint64_t declared = ~0ULL) {
    bytes out =
        text(tag) + number(declared == ~0ULL ? payload.size() : declared, 4, big_endian) + payload;
    if (payload.size() % 2 != 0) {
        out.push_back(0);
    }
    return out;
}

bytes wave_format(std::uint32_t tag, std::uint32_t channels, std::uint32_t rate,
                  std::uint32_t bits) {
    return le(tag, 2) + le(channels, 2) + le(rate, 4) + le(rate * channels * bits / 8, 4) +
           le(channels * bits / 8, 2) + le(bits, 2);
}

bytes riff(const bytes& chunks) {
    return text("RIFF") + le(chunks.size() + 4, 4) + text("WAVE") + chunks;
}

// 44100 as an 80-bit extended number: exponent, then the mantissa.
bytes extended(std::uint32_t rate) {
    int exponent = 31;
    while ((rate >> exponent & 1) == 0) {
        --exponent;
    }
    return be(16383 + exponent, 2) + be(std::uint64_t{rate} << (63 - exponent), 8);
}

bytes aiff(const std::string& form, const bytes& common, const bytes& sound) {
    const bytes chunks = chunk("COMM", common, true) + chunk("SSND", be(0, 8) + sound, true);
    return text("FORM") + be(chunks.size() + 4, 4) + text(form) + chunks;
}

bytes aiff_common(std::uint32_t channels, std::uint32_t rate, std::uint32_t bits,
                  std::uint32_t frames) {
    return be(channels, 2) + be(frames, 4) + be(bits, 2) + extended(rate);
}

void write_bytes(const fs::path& path, const bytes& data) {
    fs::create_directories(path.parent_path());
    write_file(path, std::string(data.begin(), data.end()));
}

std::string one_track(const std::string& file_line) {
    return file_line + "\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n";
}

// Every sector of the disc as the drive serves it.
bytes disc_audio(const disc_image& image) {
    bytes out(std::size_t{image.leadout()} * 2352);
    EXPECT_TRUE(image.read_raw(0, image.leadout(), out.data()));
    return out;
}

TEST(image_file, audio_files_give_their_samples_in_cd_order) {
    const bytes audio = pattern(588 * 3 + 100);  // ends inside a sector
    const bytes cd_format = wave_format(1, 2, 44100, 16);
    struct row {
        const char* what;
        std::string file_line;
        bytes file;
    };
    const row rows[] = {
        {"a plain WAVE file", "FILE a.wav WAVE",
         riff(chunk("fmt ", cd_format) + chunk("data", audio))},
        {"chunks before, between and after, of odd sizes", "FILE a.wav WAVE",
         riff(chunk("LIST", text("INFOISFT")) + chunk("fmt ", cd_format) +
              chunk("junk", text("odd")) + chunk("data", audio) + chunk("id3 ", text("tag")))},
        {"a data chunk declared past the end of the file", "FILE a.wav WAVE",
         riff(chunk("fmt ", cd_format)) + text("data") + le(0xffffffff, 4) + audio},
        {"the extensible format with PCM inside", "FILE a.wav WAVE",
         riff(chunk("fmt ", wave_format(0xfffe, 2, 44100, 16) + le(22, 2) + le(16, 2) + le(3, 4) +
                                le(1, 2) + bytes(14)) +
              chunk("data", audio))},
        {"AIFF, samples most significant byte first", "FILE a.aiff AIFF",
         aiff("AIFF", aiff_common(2, 44100, 16, 588 * 3 + 100), swapped(audio))},
        {"AIFF-C holding little-endian samples", "FILE a.aiff AIFF",
         aiff("AIFC", aiff_common(2, 44100, 16, 588 * 3 + 100) + text("sowt") + bytes{0, 0},
              audio)},
        {"an AIFF file named by the sheet as WAVE", "FILE a.wav WAVE",
         aiff("AIFF", aiff_common(2, 44100, 16, 588 * 3 + 100), swapped(audio))},
    };
    bytes padded = audio;
    padded.resize(4 * 2352);
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        temp_dir dir;
        const std::string name = r.file_line.substr(5, r.file_line.find(' ', 5) - 5);
        write_bytes(dir / name, r.file);  // the rows name their file unquoted
        write_file(dir / "disc.cue", one_track(r.file_line));
        std::string error;
        const auto image = disc_image::open((dir / "disc.cue").string(), error);
        ASSERT_NE(image, nullptr) << error;
        EXPECT_EQ(image->leadout(), 4u);
        EXPECT_EQ(disc_audio(*image), padded);
    }
}

TEST(image_file, audio_other_than_cd_audio_is_refused_naming_the_file_and_what_it_holds) {
    const bytes audio = pattern(588);
    struct row {
        std::string file_line;  // naming a.wav, a.aiff or "a b.wav"
        bytes file;
        std::string error;  // after "<cue> line 1: "
    };
    const row rows[] = {
        {"FILE \"a b.wav\" WAVE",
         riff(chunk("fmt ", wave_format(1, 2, 48000, 16)) + chunk("data", audio)),
         "\"a b.wav\" holds 48000 Hz 16-bit stereo audio, not 44100 Hz 16-bit stereo"},
        {"FILE a.wav WAVE",
         riff(chunk("fmt ", wave_format(1, 1, 44100, 24)) + chunk("data", audio)),
         "\"a.wav\" holds 44100 Hz 24-bit mono audio, not 44100 Hz 16-bit stereo"},
        {"FILE a.wav WAVE",
         riff(chunk("fmt ", wave_format(3, 2, 44100, 32)) + chunk("data", audio)),
         "\"a.wav\" holds WAVE audio that is not PCM (format 3)"},
        {"FILE a.wav WAVE", riff(chunk("fmt ", wave_format(1, 2, 44100, 16))),
         "\"a.wav\" holds a damaged WAVE file (no data chunk)"},
        {"FILE a.wav WAVE", riff(chunk("data", audio)),
         "\"a.wav\" holds a damaged WAVE header (no format chunk before the audio)"},
        {"FILE a.aiff AIFF", aiff("AIFF", aiff_common(6, 96000, 16, 588), audio),
         "\"a.aiff\" holds 96000 Hz 16-bit 6-channel audio, not 44100 Hz 16-bit stereo"},
        {"FILE a.aiff AIFF",
         aiff("AIFC", aiff_common(2, 44100, 16, 588) + text("ima4") + bytes{0, 0}, audio),
         "\"a.aiff\" holds compressed AIFF-C audio"},
        {"FILE a.wav WAVE", audio, "\"a.wav\" holds neither WAVE, AIFF nor FLAC audio"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.file_line);
        temp_dir dir;
        const std::string cue = (dir / "disc.cue").string();
        for (const char* name : {"a.wav", "a.aiff", "a b.wav"}) {
            write_bytes(dir / name, r.file);
        }
        write_file(cue, one_track(r.file_line));
        std::string error;
        EXPECT_EQ(disc_image::open(cue, error), nullptr);
        EXPECT_EQ(error, cue + " line 1: " + r.error);
    }
}

TEST(image_file, a_data_track_cannot_lie_in_an_audio_file) {
    temp_dir dir;
    write_bytes(dir / "a.wav", riff(chunk("fmt ", wave_format(1, 2, 44100, 16)) +
                                    chunk("data", pattern(588 * 2))));
    write_file(dir / "disc.cue",
               "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 MODE1/2352\n"
               "INDEX 01 00:00:01\n");
    std::string error;
    EXPECT_EQ(disc_image::open((dir / "disc.cue").string(), error), nullptr);
    EXPECT_EQ(error, (dir / "disc.cue").string() +
                         " line 4: track 2 is a data track, but \"a.wav\" holds WAVE audio");
}

TEST(image_file, files_are_found_as_archives_from_other_systems_name_them) {
    const bytes audio = pattern(588);
    const bytes wav = riff(chunk("fmt ", wave_format(1, 2, 44100, 16)) + chunk("data", audio));
    struct row {
        const char* what;
        std::vector<std::pair<std::string, bytes>> files;
        std::string file_line;
        std::string found;  // the path opened, below the sheet's folder
    };
    const row rows[] = {
        {"backslashes as folder separators, letter case of folder and file",
         {{"Disc 1/Track01.WAV", wav}},
         "FILE \"disc 1\\track01.wav\" WAVE",
         "Disc 1/Track01.WAV"},
        {"a Windows drive path: the file beside the sheet",
         {{"track01.wav", wav}},
         "FILE \"C:\\Rips\\Album\\track01.wav\" WAVE",
         "track01.wav"},
        {"a network path: the file beside the sheet",
         {{"track01.wav", wav}},
         "FILE \"\\\\server\\music\\track01.wav\" WAVE",
         "track01.wav"},
        {"the exact name before one differing in case",
         {{"a.wav", wav}, {"A.wav", wav}},
         "FILE a.wav WAVE",
         "a.wav"},
        {"another extension: .aiff before .bin",
         {{"a.bin", audio},
          {"a.AIFF", aiff("AIFF", aiff_common(2, 44100, 16, 588), swapped(audio))}},
         "FILE a.wav WAVE",
         "a.AIFF"},
        {"a BIN compressed to WAVE is read by its content",
         {{"a.wav", wav}},
         "FILE a.bin BINARY",
         "a.wav"},
        {"a WAVE file that became a BIN is raw audio",
         {{"A.bin", audio}},
         "FILE a.wav WAVE",
         "A.bin"},
        {"a MOTOROLA BIN in another case keeps its byte order",
         {{"A.BIN", swapped(audio)}},
         "FILE a.bin MOTOROLA",
         "A.BIN"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        temp_dir dir;
        for (const auto& [name, contents] : r.files) {
            write_bytes(dir / name, contents);
        }
        write_file(dir / "disc.cue", one_track(r.file_line));
        std::string error;
        const auto image = disc_image::open((dir / "disc.cue").string(), error);
        ASSERT_NE(image, nullptr) << error;
        EXPECT_EQ(image->sources().at(1).path, (dir / r.found).string());
        EXPECT_EQ(disc_audio(*image), audio);
    }
}

TEST(image_file, files_not_found_or_found_several_times_name_the_line_and_what_was_looked_for) {
    const bytes audio = pattern(588);
    struct row {
        std::vector<std::string> files;
        std::string file_line;
        std::string error;  // after "<cue> line 2: ", with @ for the sheet's folder
    };
    const row rows[] = {
        {{},
         "FILE \"Gone.wav\" WAVE",
         "cannot find \"Gone.wav\": looked in @ for \"Gone.wav\" in any letter case, then for "
         "\"Gone.flac\", \"Gone.aiff\", \"Gone.bin\""},
        {{"a.flac.txt"},
         "FILE a WAVE",
         "cannot find \"a\": looked in @ for \"a\" in any letter case, then for \"a.flac\", "
         "\"a.wav\", \"a.aiff\", \"a.bin\""},
        {{"x.wav"},
         "FILE \"CD1\\x.wav\" WAVE",
         "cannot find \"CD1\\x.wav\": no folder \"CD1\" in @ in any letter case"},
        {{"Track.wav", "TRACK.WAV"},
         "FILE track.wav WAVE",
         "cannot choose a file for \"track.wav\": \"TRACK.WAV\" and \"Track.wav\" in @ all match"},
        {{"t.Flac", "t.FLAC", "t.aiff"},
         "FILE t.wav WAVE",
         "cannot choose a file for \"t.wav\": \"t.FLAC\" and \"t.Flac\" in @ all match"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.file_line);
        temp_dir dir;
        for (const std::string& name : r.files) {
            write_bytes(dir / name, audio);
        }
        const std::string cue = (dir / "disc.cue").string();
        write_file(cue, "REM COMMENT \"x\"\n" + one_track(r.file_line));
        std::string error;
        EXPECT_EQ(disc_image::open(cue, error), nullptr);
        std::string expected = r.error;
        expected.replace(expected.find('@'), 1, dir.path().string());
        EXPECT_EQ(error, cue + " line 2: " + expected);
    }
}

FLAC__int32 pattern_sample(std::uint64_t frame, unsigned channel) {
    return test_sample(static_cast<std::uint32_t>(frame / 588),
                       static_cast<std::uint32_t>(frame % 588), channel);
}

TEST(image_file, flac_files_are_decoded_as_they_are_read) {
    constexpr std::uint32_t frames = 588 * 3 + 100;
    bytes padded = pattern(frames);
    padded.resize(4 * 2352);
    const bytes id3_tag = text("ID3") + bytes{4, 0, 0, 0, 0, 0, 10} + bytes(10, 'x');
    struct row {
        const char* what;
        std::string file_line;
        std::string file;  // as written
        bool tagged = false;
        bool decoys = false;  // files of later extensions that must not be taken
    };
    const row rows[] = {
        {"FLAC under the type WAVE, as rippers write it", "FILE \"a.flac\" WAVE", "a.flac"},
        {"the type FLAC", "FILE a.flac FLAC", "a.flac"},
        {"a .wav in the sheet, the file compressed since", "FILE a.wav WAVE", "a.flac", false,
         true},
        {"behind an ID3v2 tag", "FILE a.flac WAVE", "a.flac", true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        temp_dir dir;
        ASSERT_EQ(write_test_flac(dir / r.file, frames, pattern_sample), "");
        if (r.decoys) {
            write_file(dir / "a.aiff", "not audio");
            write_file(dir / "a.bin", "not audio");
        }
        if (r.tagged) {
            const std::string plain = read_file(dir / r.file);
            write_file(dir / r.file, std::string(id3_tag.begin(), id3_tag.end()) + plain);
        }
        write_file(dir / "disc.cue", one_track(r.file_line));
        std::string error;
        const auto image = disc_image::open((dir / "disc.cue").string(), error);
        ASSERT_NE(image, nullptr) << error;
        EXPECT_EQ(image->leadout(), 4u);
        EXPECT_EQ(disc_audio(*image), padded);
        // Out of order, as a read offset or a sector range reads.
        bytes sector(2352);
        ASSERT_TRUE(image->read_raw(1, 1, sector.data()));
        EXPECT_TRUE(std::equal(sector.begin(), sector.end(), padded.begin() + 2352));
    }
}

TEST(image_file, flac_files_of_other_audio_or_damaged_are_refused) {
    temp_dir dir;
    test_flac_shape shape;
    shape.rate = 48000;
    ASSERT_EQ(write_test_flac(dir / "a.flac", 2000, pattern_sample, shape), "");
    write_file(dir / "disc.cue", one_track("FILE a.flac FLAC"));
    std::string error;
    EXPECT_EQ(disc_image::open((dir / "disc.cue").string(), error), nullptr);
    EXPECT_EQ(error, (dir / "disc.cue").string() +
                         " line 1: \"a.flac\": not CD audio (44100 Hz, 16-bit, stereo PCM): FLAC "
                         "of 2 channels, 16-bit, 48000 Hz");

    // Cut short after it was opened: the lost sectors fail to read.
    ASSERT_EQ(write_test_flac(dir / "a.flac", 588 * 40, pattern_sample), "");
    const auto image = disc_image::open((dir / "disc.cue").string(), error);
    ASSERT_NE(image, nullptr) << error;
    fs::resize_file(dir / "a.flac", fs::file_size(dir / "a.flac") / 2);
    bytes audio(40 * 2352);
    EXPECT_FALSE(image->read_raw(0, 40, audio.data()));
}

}  // namespace
