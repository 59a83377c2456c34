#pragma once

// MD5 (RFC 1321), for the signature a FLAC stream carries of its audio:
// the FLAC reader sums the samples it hands out itself, so that whatever
// libFLAC decodes past the declared end never enters the sum.

#include <array>
#include <cstddef>
#include <cstdint>

class md5_sum {
  public:
    using digest = std::array<std::uint8_t, 16>;

    void add(const std::uint8_t* bytes, std::size_t size);
    digest finish();  // the sum of everything added; the object is spent

  private:
    void add_block(const std::uint8_t* block);

    std::array<std::uint32_t, 4> state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::array<std::uint8_t, 64> block_{};
    std::size_t held_ = 0;  // bytes in block_
    std::uint64_t total_ = 0;
};
