#include "sum/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> random_bytes(std::size_t size) {
    std::mt19937 rng(12345);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(rng());
    }
    return bytes;
}

const std::uint8_t* text_bytes(const char* text) {
    return reinterpret_cast<const std::uint8_t*>(text);
}

}  // namespace

TEST(crc32, known_values) {
    // The check value of CRC-32 and a few values that zlib gives.
    EXPECT_EQ(crc32_extend(0, text_bytes("123456789"), 9), 0xcbf43926u);
    EXPECT_EQ(crc32_extend(0, nullptr, 0), 0u);
    EXPECT_EQ(crc32_extend(0, text_bytes("a"), 1), 0xe8b7be43u);
    const char* fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(crc32_extend(0, text_bytes(fox), std::strlen(fox)), 0x414fa339u);
    const std::vector<std::uint8_t> zeros(4096, 0);
    EXPECT_EQ(crc32_extend(0, zeros.data(), zeros.size()), 0xc71c0011u);
}

TEST(crc32, carryless_folding_agrees_with_the_table_at_every_length_and_alignment) {
    if (!crc32_carryless_available()) {
        GTEST_SKIP() << "this processor has no carry-less multiply";
    }
    const std::vector<std::uint8_t> data = random_bytes(70000);
    // Around the folding's block sizes: 16, 64 and their multiples.
    for (std::size_t size = 0; size <= 300; ++size) {
        for (std::size_t start : {0, 1, 7, 13}) {
            ASSERT_EQ(crc32_extend_carryless(0x12345678, data.data() + start, size),
                      crc32_extend_by_table(0x12345678, data.data() + start, size))
                << "size " << size << " at " << start;
        }
    }
    EXPECT_EQ(crc32_extend_carryless(0, data.data(), data.size()),
              crc32_extend_by_table(0, data.data(), data.size()));
}

TEST(crc32, pieces_sum_to_the_whole) {
    const std::vector<std::uint8_t> data = random_bytes(5000);
    const std::uint32_t whole = crc32_extend_by_table(0, data.data(), data.size());
    for (std::size_t cut : {1, 63, 64, 1000, 4999}) {
        const std::uint32_t head = crc32_extend(0, data.data(), cut);
        EXPECT_EQ(crc32_extend(head, data.data() + cut, data.size() - cut), whole) << cut;
    }
}
