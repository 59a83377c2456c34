#include "image/flac_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "common/common_test_util.h"
#include "image/flac_test_util.h"
#include "image/test_audio.h"

namespace {

FLAC__int32 known_sample(std::uint64_t frame, unsigned channel) {
    return test_sample(static_cast<std::uint32_t>(frame / test_frames_per_sector),
                       static_cast<std::uint32_t>(frame % test_frames_per_sector), channel);
}

// The frames as CD-DA bytes, as the reader must deliver them.
std::vector<std::uint8_t> known_bytes(std::uint64_t first, std::size_t count) {
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t i = first; i < first + count; ++i) {
        for (unsigned c = 0; c < 2; ++c) {
            const auto value = static_cast<std::uint16_t>(known_sample(i, c));
            bytes.push_back(static_cast<std::uint8_t>(value));
            bytes.push_back(static_cast<std::uint8_t>(value >> 8));
        }
    }
    return bytes;
}

// A little over three sectors, not a whole number of FLAC frames.
constexpr std::uint64_t test_frames = 3 * 588 + 1001;

class flac_reader_test : public ::testing::Test {
  protected:
    std::string make(const test_flac_shape& shape = {}, std::uint64_t frames = test_frames,
                     const std::string& name = "a.flac") {
        const std::string path = dir / name;
        EXPECT_EQ(write_test_flac(path, frames, known_sample, shape), "");
        return path;
    }

    std::unique_ptr<flac_reader> open(const std::string& path) {
        std::string error;
        auto reader = flac_reader::open(path, error);
        EXPECT_NE(reader, nullptr) << error;
        return reader;
    }

    std::string refusal(const std::string& path) {
        std::string error;
        EXPECT_EQ(flac_reader::open(path, error), nullptr);
        return error;
    }

    // Reads the whole file in pieces of `piece` frames and finishes it.
    flac_reader::md5_verdict read_all(flac_reader& reader, std::size_t piece) {
        std::vector<std::uint8_t> got(piece * 4);
        std::string error;
        for (std::uint64_t at = 0; at < reader.frames(); at += piece) {
            const std::size_t count = std::min<std::uint64_t>(piece, reader.frames() - at);
            EXPECT_TRUE(reader.read(at, count, got.data(), error)) << error;
            got.resize(count * 4);
            EXPECT_EQ(got, known_bytes(at, count)) << "at frame " << at;
        }
        flac_reader::md5_verdict verdict{};
        EXPECT_TRUE(reader.finish(verdict, error)) << error;
        return verdict;
    }

    temp_dir dir;
};

TEST_F(flac_reader_test, reads_in_order_in_any_piece_size_and_checks_the_md5_signature) {
    const std::string path = make();
    for (const std::size_t piece : {1, 588, 1152, 5000}) {
        const auto reader = open(path);
        EXPECT_EQ(reader->frames(), test_frames);
        EXPECT_EQ(read_all(*reader, piece), flac_reader::md5_verdict::matches) << piece;
    }
}

TEST_F(flac_reader_test, a_signature_that_differs_from_the_audio_is_told) {
    const std::string path = make();
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(test_flac_md5_offset);
    file.put('\x5a');
    file.close();
    const auto reader = open(path);
    EXPECT_EQ(read_all(*reader, 4096), flac_reader::md5_verdict::differs);
}

TEST_F(flac_reader_test, no_signature_no_verdict) {
    test_flac_shape shape;
    shape.md5 = false;
    const auto reader = open(make(shape));
    EXPECT_EQ(read_all(*reader, 4096), flac_reader::md5_verdict::unset);
}

TEST_F(flac_reader_test, reads_anywhere_by_seeking_and_then_gives_no_verdict) {
    const auto reader = open(make());
    std::string error;
    for (const auto& [first, count] : std::vector<std::pair<std::uint64_t, std::size_t>>{
             {2000, 300}, {0, 10}, {test_frames - 7, 7}, {1151, 2}, {1153, 1200}}) {
        std::vector<std::uint8_t> got(count * 4);
        ASSERT_TRUE(reader->read(first, count, got.data(), error)) << error;
        EXPECT_EQ(got, known_bytes(first, count)) << first;
    }
    flac_reader::md5_verdict verdict{};
    EXPECT_TRUE(reader->finish(verdict, error));
    EXPECT_EQ(verdict, flac_reader::md5_verdict::unchecked);
}

TEST_F(flac_reader_test, a_pipe_is_read_in_order_after_the_bytes_taken_before) {
    const std::string path = make();
    const std::vector<std::uint8_t> file = read_bytes(path);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    // The first bytes were read by whoever recognised the format; the rest
    // comes through the pipe (small enough to fit in its buffer).
    ASSERT_LT(file.size(), 60000u);
    const std::size_t taken = 100;
    ASSERT_EQ(::write(ends[1], file.data() + taken, file.size() - taken),
              static_cast<ssize_t>(file.size() - taken));
    ::close(ends[1]);
    std::string error;
    const auto reader = flac_reader::adopt(
        ends[0], std::vector<std::uint8_t>(file.begin(), file.begin() + taken), error);
    ASSERT_NE(reader, nullptr) << error;
    EXPECT_EQ(read_all(*reader, 1000), flac_reader::md5_verdict::matches);
}

TEST_F(flac_reader_test, a_pipe_cannot_be_read_out_of_order) {
    const std::vector<std::uint8_t> file = read_bytes(make());
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[1]);
    std::string error;
    const auto reader = flac_reader::adopt(ends[0], file, error);
    ASSERT_NE(reader, nullptr) << error;
    std::vector<std::uint8_t> got(40);
    EXPECT_FALSE(reader->read(500, 10, got.data(), error));
    EXPECT_EQ(error, "cannot seek to sample 500 in a FLAC stream that is no regular file");
}

TEST_F(flac_reader_test, an_id3v2_tag_before_the_stream_is_passed_over) {
    const std::vector<std::uint8_t> flac = read_bytes(make());
    std::string tagged("ID3\x04\x00\x00\x00\x00\x01\x05", 10);  // 128 + 5 bytes of tag body
    tagged.append(133, 'x');
    tagged.append(flac.begin(), flac.end());
    write_file(dir / "tagged.flac", tagged);
    const auto* head = reinterpret_cast<const std::uint8_t*>(tagged.data());
    EXPECT_EQ(flac_reader::id3v2_bytes(head, tagged.size()), 143u);
    EXPECT_TRUE(flac_reader::is_flac(head, tagged.size()));
    EXPECT_FALSE(flac_reader::is_flac(head, 146));  // the marker is not inside the bytes given
    const auto reader = open(dir / "tagged.flac");
    EXPECT_EQ(read_all(*reader, 4096), flac_reader::md5_verdict::matches);
}

TEST_F(flac_reader_test, refuses_what_is_no_flac_of_cd_audio_naming_what_it_holds) {
    const auto shaped = [&](unsigned channels, unsigned bits, unsigned rate) {
        test_flac_shape shape;
        shape.channels = channels;
        shape.bits = bits;
        shape.rate = rate;
        return make(shape, 1000, "shaped.flac");
    };
    EXPECT_EQ(refusal(shaped(1, 16, 44100)),
              "not CD audio (44100 Hz, 16-bit, stereo PCM): FLAC of 1 channel, 16-bit, 44100 Hz");
    EXPECT_EQ(refusal(shaped(2, 24, 44100)),
              "not CD audio (44100 Hz, 16-bit, stereo PCM): FLAC of 2 channels, 24-bit, 44100 Hz");
    EXPECT_EQ(refusal(shaped(2, 16, 48000)),
              "not CD audio (44100 Hz, 16-bit, stereo PCM): FLAC of 2 channels, 16-bit, 48000 Hz");

    test_flac_shape streamed;
    streamed.streamed = true;
    EXPECT_EQ(refusal(make(streamed)),
              "a FLAC stream of unknown length (its STREAMINFO gives no sample count)");

    write_file(dir / "riff.flac", "RIFF....WAVEfmt ");
    EXPECT_EQ(refusal(dir / "riff.flac"), "not a FLAC file");
    write_file(dir / "empty.flac", "");
    EXPECT_EQ(refusal(dir / "empty.flac"), "not a FLAC file: it is empty");
    write_file(dir / "marker.flac", "fLaC");
    EXPECT_EQ(refusal(dir / "marker.flac").rfind("damaged FLAC file: ", 0), 0u);
    // An APPLICATION block shorter than its own identifier: libFLAC stops
    // with its out-of-memory state, though no memory ran out.
    write_file(dir / "short-block.flac", std::string("fLaC\x02\x00\x00\x00" "appl" "more", 16));
    EXPECT_EQ(refusal(dir / "short-block.flac"),
              "damaged FLAC file: a block the decoder cannot hold (a damaged length, or no "
              "memory left)");
    EXPECT_EQ(refusal(dir / "missing.flac"), "No such file or directory");
    EXPECT_EQ(refusal(dir.path()), "not a regular file");
    ASSERT_EQ(::mkfifo((dir / "fifo.flac").c_str(), 0600), 0);
    EXPECT_EQ(refusal(dir / "fifo.flac"), "not a regular file");  // at once, with no writer
}

TEST_F(flac_reader_test, damage_in_the_audio_fails_the_read_and_every_read_after_it) {
    const std::string path = make();
    std::vector<std::uint8_t> file = read_bytes(path);
    // Reads the whole file as its STREAMINFO declares it; once a read has
    // failed, the next one fails too.
    const auto read_whole = [&](const std::string& name, std::string& error) {
        write_file(dir / name, std::string(file.begin(), file.end()));
        const auto reader = open(dir / name);
        if (reader == nullptr) {
            return true;
        }
        std::vector<std::uint8_t> got(reader->frames() * 4);
        if (reader->read(0, reader->frames(), got.data(), error)) {
            return true;
        }
        std::string again;
        EXPECT_FALSE(reader->read(0, 1, got.data(), again));
        EXPECT_EQ(again, error);
        return false;
    };
    std::string error;
    file[file.size() / 2] ^= 0x10;  // a frame's CRC no longer holds
    EXPECT_FALSE(read_whole("flipped.flac", error));
    EXPECT_NE(error.find("damaged FLAC stream after sample"), std::string::npos) << error;

    file = read_bytes(path);
    file.resize(file.size() - 2000);
    EXPECT_FALSE(read_whole("short.flac", error));
    EXPECT_NE(error.find("damaged FLAC stream after sample"), std::string::npos) << error;

    // STREAMINFO promises more than the frames hold.
    file = read_bytes(path);
    file[4 + 4 + 17] = static_cast<std::uint8_t>(file[4 + 4 + 17] + 1);
    EXPECT_FALSE(read_whole("long.flac", error));
    EXPECT_EQ(error, "the FLAC stream ends after 2765 of its 2766 samples");
}

TEST_F(flac_reader_test, a_stream_that_holds_more_audio_than_it_declares_is_refused_at_the_end) {
    std::vector<std::uint8_t> file = read_bytes(make());
    file[4 + 4 + 17] = static_cast<std::uint8_t>(file[4 + 4 + 17] - 1);  // one sample fewer
    write_file(dir / "more.flac", std::string(file.begin(), file.end()));
    const auto reader = open(dir / "more.flac");
    std::vector<std::uint8_t> got(test_frames * 4);
    std::string error;
    EXPECT_FALSE(reader->read(0, test_frames - 1, got.data(), error));
    EXPECT_EQ(error, "damaged FLAC stream: more than the 2764 samples its STREAMINFO declares");
}

TEST_F(flac_reader_test, what_follows_bytes_after_the_last_frame_is_no_audio_of_the_stream) {
    // A tag after the last frame, and behind it whole frames (here a second
    // copy of the file): libFLAC finds them after the tag's bytes or not,
    // depending on how its input arrives; a file and a pipe must agree.
    const std::vector<std::uint8_t> flac = read_bytes(make());
    std::string padded(flac.begin(), flac.end());
    padded += "TAG";
    padded.append(125, 'x');
    padded.append(flac.begin(), flac.end());
    write_file(dir / "padded.flac", padded);
    const auto reader = open(dir / "padded.flac");
    EXPECT_EQ(read_all(*reader, 1000), flac_reader::md5_verdict::matches);

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_LT(padded.size(), 60000u);  // fits in the pipe's buffer
    ASSERT_EQ(::write(ends[1], padded.data(), padded.size()), static_cast<ssize_t>(padded.size()));
    ::close(ends[1]);
    std::string error;
    const auto piped = flac_reader::adopt(ends[0], {}, error);
    ASSERT_NE(piped, nullptr) << error;
    EXPECT_EQ(read_all(*piped, 1000), flac_reader::md5_verdict::matches);
}

TEST_F(flac_reader_test, reads_nothing_outside_the_file) {
    const auto reader = open(make());
    std::vector<std::uint8_t> got(8);
    std::string error;
    EXPECT_FALSE(reader->read(test_frames - 1, 2, got.data(), error));
    EXPECT_EQ(error, "no samples 2764 to 2766 in a FLAC stream of 2765");
}

}  // namespace
