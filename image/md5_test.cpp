#include "image/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string hex(const md5_sum::digest& digest) {
    std::string out;
    for (const std::uint8_t byte : digest) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        out += two;
    }
    return out;
}

std::string sum_of(const std::string& text) {
    md5_sum sum;
    sum.add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return hex(sum.finish());
}

}  // namespace

TEST(md5_sum, gives_the_digests_of_the_rfc_1321_test_suite) {
    const struct {
        std::string text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sum_of(c.text), c.digest) << '"' << c.text << '"';
    }
}

TEST(md5_sum, the_pieces_it_is_given_in_do_not_change_the_sum) {
    std::vector<std::uint8_t> bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    md5_sum whole;
    whole.add(bytes.data(), bytes.size());
    const md5_sum::digest expected = whole.finish();
    for (const std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 1000u}) {
        md5_sum pieces;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            pieces.add(bytes.data() + at, std::min(piece, bytes.size() - at));
        }
        EXPECT_EQ(pieces.finish(), expected) << "pieces of " << piece;
    }
}
