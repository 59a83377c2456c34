#pragma once

// FLAC files for tests, made by libFLAC's own encoder from known audio.

#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

struct test_flac_shape {
    unsigned channels = 2;
    unsigned bits = 16;
    unsigned rate = 44100;
    unsigned blocksize = 1152;  // small, so that a short file has many frames
    bool md5 = true;            // false: the signature zeroed afterwards
    // As written to a pipe: STREAMINFO is never completed, so it holds the
    // estimate given here (0: unknown) and no MD5 signature.
    bool streamed = false;
    std::uint64_t streamed_total = 0;
};

// Where STREAMINFO's MD5 signature lies in a file that begins with "fLaC"
// and STREAMINFO, as libFLAC's encoder writes it.
inline constexpr std::size_t test_flac_md5_offset = 4 + 4 + 18;

// Zeros the signature: a file that stores none.
inline void clear_test_flac_md5(const std::string& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(test_flac_md5_offset);
    file.write(std::string(16, '\0').data(), 16);
}

// Encodes `frames` sample frames, sample i of channel c being value(i, c),
// into the file at `path`.  An empty text on success, else what failed.
template <typename Value>
std::string write_test_flac(const std::string& path, std::uint64_t frames, Value value,
                            const test_flac_shape& shape = {}) {
    FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(encoder, shape.channels);
    FLAC__stream_encoder_set_bits_per_sample(encoder, shape.bits);
    FLAC__stream_encoder_set_sample_rate(encoder, shape.rate);
    FLAC__stream_encoder_set_compression_level(encoder, 0);
    FLAC__stream_encoder_set_blocksize(encoder, shape.blocksize);
    FLAC__stream_encoder_set_total_samples_estimate(encoder,
                                                    shape.streamed ? shape.streamed_total : frames);
    std::FILE* file = nullptr;
    FLAC__StreamEncoderInitStatus init;
    if (shape.streamed) {
        file = std::fopen(path.c_str(), "wb");
        // Only a write callback: the encoder cannot go back to STREAMINFO.
        init = FLAC__stream_encoder_init_stream(
            encoder,
            [](const FLAC__StreamEncoder*, const FLAC__byte buffer[], std::size_t bytes, unsigned,
               unsigned, void* client) {
                return std::fwrite(buffer, 1, bytes, static_cast<std::FILE*>(client)) == bytes
                           ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
                           : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
            },
            nullptr, nullptr, nullptr, file);
    } else {
        init = FLAC__stream_encoder_init_file(encoder, path.c_str(), nullptr, nullptr);
    }
    std::string error;
    if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        error = FLAC__StreamEncoderInitStatusString[init];
    }
    std::vector<FLAC__int32> block;
    for (std::uint64_t done = 0; error.empty() && done < frames;) {
        const std::uint64_t count = std::min<std::uint64_t>(4096, frames - done);
        block.clear();
        for (std::uint64_t i = 0; i < count; ++i) {
            for (unsigned c = 0; c < shape.channels; ++c) {
                block.push_back(value(done + i, c));
            }
        }
        if (!FLAC__stream_encoder_process_interleaved(encoder, block.data(),
                                                      static_cast<unsigned>(count))) {
            error = FLAC__stream_encoder_get_resolved_state_string(encoder);
        }
        done += count;
    }
    if (!FLAC__stream_encoder_finish(encoder) && error.empty()) {
        error = FLAC__stream_encoder_get_resolved_state_string(encoder);
    }
    FLAC__stream_encoder_delete(encoder);
    if (file != nullptr && std::fclose(file) != 0 && error.empty()) {
        error = "fclose failed";
    }
    if (!shape.md5 && !shape.streamed && error.empty()) {
        clear_test_flac_md5(path);
    }
    return error;
}

// libFLAC's own count of the samples the bytes decode to, with no check of
// ours in between, up to the first damage it reports (in a stream that is
// read clean, bytes after the last frame: what libFLAC finds behind them is
// no audio of the stream, and how libFLAC fares there does not count);
// nothing when its decoder fails before any damage.
inline std::optional<std::uint64_t> decoded_flac_samples(const std::uint8_t* data,
                                                         std::size_t size) {
    struct source {
        const std::uint8_t* data;
        std::size_t size;
        std::size_t at = 0;
        std::uint64_t samples = 0;
        bool damaged = false;
    } state{data, size};
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    FLAC__stream_decoder_init_stream(
        decoder,
        [](const FLAC__StreamDecoder*, FLAC__byte buffer[], std::size_t* bytes, void* client) {
            auto& s = *static_cast<source*>(client);
            *bytes = std::min(*bytes, s.size - s.at);
            std::memcpy(buffer, s.data + s.at, *bytes);
            s.at += *bytes;
            return *bytes == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                               : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
        },
        nullptr, nullptr, nullptr, nullptr,
        [](const FLAC__StreamDecoder*, const FLAC__Frame* frame, const FLAC__int32* const[],
           void* client) {
            auto& s = *static_cast<source*>(client);
            if (s.damaged) {
                return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
            }
            s.samples += frame->header.blocksize;
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        },
        nullptr,
        [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) {
            static_cast<source*>(client)->damaged = true;
        },
        &state);
    const bool went = FLAC__stream_decoder_process_until_end_of_stream(decoder);
    FLAC__stream_decoder_delete(decoder);
    return went || state.damaged ? std::optional(state.samples) : std::nullopt;
}
