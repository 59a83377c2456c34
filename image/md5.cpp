#include "image/md5.h"

#include <algorithm>
#include <cstring>

namespace {

// The per-step shifts and the sines table of RFC 1321.
constexpr std::uint8_t shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                     5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                     4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                     6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::uint32_t sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

std::uint32_t rotated(std::uint32_t value, unsigned by) {
    return value << by | value >> (32 - by);
}

}  // namespace

void md5_sum::add_block(const std::uint8_t* block) {
    std::uint32_t words[16];
    for (int i = 0; i < 16; ++i) {
        const std::uint8_t* p = block + 4 * i;
        words[i] = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                   std::uint32_t{p[3]} << 24;
    }
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (unsigned i = 0; i < 64; ++i) {
        std::uint32_t mixed;
        unsigned word;
        if (i < 16) {
            mixed = (b & c) | (~b & d);
            word = i;
        } else if (i < 32) {
            mixed = (d & b) | (~d & c);
            word = (5 * i + 1) % 16;
        } else if (i < 48) {
            mixed = b ^ c ^ d;
            word = (3 * i + 5) % 16;
        } else {
            mixed = c ^ (b | ~d);
            word = (7 * i) % 16;
        }
        const std::uint32_t next = b + rotated(a + mixed + sines[i] + words[word], shifts[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void md5_sum::add(const std::uint8_t* bytes, std::size_t size) {
    total_ += size;
    if (held_ > 0) {
        const std::size_t taken = std::min(size, block_.size() - held_);
        std::memcpy(block_.data() + held_, bytes, taken);
        held_ += taken;
        bytes += taken;
        size -= taken;
        if (held_ < block_.size()) {
            return;
        }
        add_block(block_.data());
        held_ = 0;
    }
    for (; size >= block_.size(); bytes += block_.size(), size -= block_.size()) {
        add_block(bytes);
    }
    if (size > 0) {
        std::memcpy(block_.data(), bytes, size);
        held_ = size;
    }
}

md5_sum::digest md5_sum::finish() {
    const std::uint64_t bits = total_ * 8;
    std::uint8_t padding[72] = {0x80};
    const std::size_t pad = (held_ < 56 ? 56 : 120) - held_;
    for (int i = 0; i < 8; ++i) {
        padding[pad + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    add(padding, pad + 8);
    digest out{};
    for (int i = 0; i < 16; ++i) {
        out[i] = static_cast<std::uint8_t>(state_[i / 4] >> (8 * (i % 4)));
    }
    return out;
}
