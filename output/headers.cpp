#include "output/headers.h"

#include <cstring>

#include "common/write_all.h"

namespace {

constexpr std::uint32_t channels = 2;
constexpr std::uint32_t bits_per_sample = 16;
constexpr std::uint32_t frames_per_second = 44100;
constexpr std::uint32_t bytes_per_frame = 4;
constexpr std::uint32_t bytes_per_second = frames_per_second * bytes_per_frame;

constexpr std::uint32_t aiff_form_overhead = 46;  // file length less 8, less the payload
constexpr std::uint32_t aiff_comm_size = 18;
constexpr std::uint32_t aiff_ssnd_overhead = 8;  // offset and block size fields
// 44100 as an 80-bit IEEE 754 extended number: exponent 16383 + 15, then the
// mantissa with its explicit leading 1 bit.
constexpr std::uint8_t aiff_rate_44100[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};

constexpr std::uint32_t wav_riff_overhead = 36;  // file length less 8, less the payload
constexpr std::uint32_t wav_fmt_size = 16;
constexpr std::uint16_t wav_format_pcm = 1;

constexpr std::uint32_t au_encoding_linear_16 = 3;

// Low 32 bits, as every size field holds them.
constexpr std::uint32_t low32(std::uint64_t value) {
    return static_cast<std::uint32_t>(value);
}

void put_text(std::uint8_t* at, const char (&text)[5]) {
    std::memcpy(at, text, 4);
}

void put_be16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void put_be32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

void put_le16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put_le32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

template <std::size_t size>
void write_header_bytes(const std::array<std::uint8_t, size>& header, int fd) {
    write_all(fd, header.data(), header.size(), "write()");
}

}  // namespace

std::array<std::uint8_t, aiff_header_size> make_aiff_header(std::uint64_t payload_bytes) {
    std::array<std::uint8_t, aiff_header_size> h{};
    put_text(&h[0], "FORM");
    put_be32(&h[4], low32(payload_bytes + aiff_form_overhead));
    put_text(&h[8], "AIFF");
    put_text(&h[12], "COMM");
    put_be32(&h[16], aiff_comm_size);
    put_be16(&h[20], channels);
    put_be32(&h[22], low32(payload_bytes / bytes_per_frame));  // sample frames
    put_be16(&h[26], bits_per_sample);
    std::memcpy(&h[28], aiff_rate_44100, sizeof aiff_rate_44100);
    put_text(&h[38], "SSND");
    put_be32(&h[42], low32(payload_bytes + aiff_ssnd_overhead));
    put_be32(&h[46], 0);  // offset
    put_be32(&h[50], 0);  // block size
    return h;
}

std::array<std::uint8_t, wav_header_size> make_wav_header(std::uint64_t payload_bytes) {
    std::array<std::uint8_t, wav_header_size> h{};
    put_text(&h[0], "RIFF");
    put_le32(&h[4], low32(payload_bytes + wav_riff_overhead));
    put_text(&h[8], "WAVE");
    put_text(&h[12], "fmt ");
    put_le32(&h[16], wav_fmt_size);
    put_le16(&h[20], wav_format_pcm);
    put_le16(&h[22], channels);
    put_le32(&h[24], frames_per_second);
    put_le32(&h[28], bytes_per_second);
    put_le16(&h[32], bytes_per_frame);
    put_le16(&h[34], bits_per_sample);
    put_text(&h[36], "data");
    put_le32(&h[40], low32(payload_bytes));
    return h;
}

std::array<std::uint8_t, au_header_size> make_au_header(std::uint64_t payload_bytes) {
    std::array<std::uint8_t, au_header_size> h{};
    put_text(&h[0], ".snd");
    put_be32(&h[4], au_header_size);  // where the audio begins
    put_be32(&h[8], low32(payload_bytes));
    put_be32(&h[12], au_encoding_linear_16);
    put_be32(&h[16], frames_per_second);
    put_be32(&h[20], channels);
    put_text(&h[24], "vork");  // annotation
    return h;
}

void write_no_header(std::uint64_t, int) {}

void write_aiff_header(std::uint64_t payload_bytes, int fd) {
    write_header_bytes(make_aiff_header(payload_bytes), fd);
}

void write_wav_header(std::uint64_t payload_bytes, int fd) {
    write_header_bytes(make_wav_header(payload_bytes), fd);
}

void write_au_header(std::uint64_t payload_bytes, int fd) {
    write_header_bytes(make_au_header(payload_bytes), fd);
}
