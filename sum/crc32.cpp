#include "sum/crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr std::uint32_t reflected_polynomial = 0xedb88320;

// Slicing by eight: table k maps a byte to its CRC after k further zero
// bytes, so eight bytes are folded in with eight look-ups.
using crc_tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr crc_tables make_tables() {
    crc_tables t{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ reflected_polynomial : crc >> 1;
        }
        t[0][byte] = crc;
    }
    for (std::size_t k = 1; k < t.size(); ++k) {
        for (std::uint32_t byte = 0; byte < 256; ++byte) {
            const std::uint32_t prev = t[k - 1][byte];
            t[k][byte] = (prev >> 8) ^ t[0][prev & 0xff];
        }
    }
    return t;
}

constexpr crc_tables tables = make_tables();

std::uint32_t load_le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The register as it runs: preset and final inversion left to the callers.
std::uint32_t update_by_table(std::uint32_t reg, const std::uint8_t* p, std::size_t n) {
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t lo = load_le32(p) ^ reg;
        const std::uint32_t hi = load_le32(p + 4);
        reg = tables[7][lo & 0xff] ^ tables[6][(lo >> 8) & 0xff] ^ tables[5][(lo >> 16) & 0xff] ^
              tables[4][lo >> 24] ^ tables[3][hi & 0xff] ^ tables[2][(hi >> 8) & 0xff] ^
              tables[1][(hi >> 16) & 0xff] ^ tables[0][hi >> 24];
    }
    for (; n > 0; --n, ++p) {
        reg = (reg >> 8) ^ tables[0][(reg ^ *p) & 0xff];
    }
    return reg;
}

#if defined(__x86_64__)

// Folding with carry-less multiplication: four 128-bit lanes are carried
// forward 512 bits at a time, then folded into one and reduced to 32 bits
// (Barrett reduction).  The constants are powers of x modulo the
// polynomial, bit-reflected, for those distances.
constexpr std::uint64_t fold_512_low = 0x154442bd4;   // x^(4*128+32) mod P
constexpr std::uint64_t fold_512_high = 0x1c6e41596;  // x^(4*128-32) mod P
constexpr std::uint64_t fold_128_low = 0x1751997d0;   // x^(128+32) mod P
constexpr std::uint64_t fold_128_high = 0x0ccaa009e;  // x^(128-32) mod P
constexpr std::uint64_t fold_64 = 0x163cd6124;        // x^64 mod P
constexpr std::uint64_t polynomial_full = 0x1db710641;
constexpr std::uint64_t barrett_mu = 0x1f7011641;

__attribute__((target("pclmul,sse4.1"))) __m128i fold(__m128i lane, __m128i constants,
                                                      __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// n is at least 64 and a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t update_carryless(std::uint32_t reg,
                                                                        const std::uint8_t* p,
                                                                        std::size_t n) {
    auto load = [](const std::uint8_t* at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    };
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    n -= 64;
    const __m128i k512 =
        _mm_set_epi64x(static_cast<long long>(fold_512_high), static_cast<long long>(fold_512_low));
    for (; n >= 64; n -= 64, p += 64) {
        x1 = fold(x1, k512, load(p));
        x2 = fold(x2, k512, load(p + 16));
        x3 = fold(x3, k512, load(p + 32));
        x4 = fold(x4, k512, load(p + 48));
    }
    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(fold_128_high), static_cast<long long>(fold_128_low));
    x1 = fold(x1, k128, x2);
    x1 = fold(x1, k128, x3);
    x1 = fold(x1, k128, x4);
    for (; n >= 16; n -= 16, p += 16) {
        x1 = fold(x1, k128, load(p));
    }

    // 128 bits to 64: the low half carried over the high half.
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    __m128i folded = _mm_xor_si128(_mm_clmulepi64_si128(x1, k128, 0x10), _mm_srli_si128(x1, 8));
    // 64 bits to 32.
    const __m128i k64 = _mm_set_epi64x(0, static_cast<long long>(fold_64));
    folded = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(folded, mask32), k64, 0x00),
                           _mm_srli_si128(folded, 4));
    // Barrett reduction to the 32-bit remainder.
    const __m128i poly_mu =
        _mm_set_epi64x(static_cast<long long>(barrett_mu), static_cast<long long>(polynomial_full));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(folded, mask32), poly_mu, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly_mu, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(folded, t), 1));
}

#endif

using updater = std::uint32_t (*)(std::uint32_t, const std::uint8_t*, std::size_t);

}  // namespace

std::uint32_t crc32_extend_by_table(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    return ~update_by_table(~crc, data, size);
}

bool crc32_carryless_available() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#else
    return false;
#endif
}

std::uint32_t crc32_extend_carryless(std::uint32_t crc, const std::uint8_t* data,
                                     std::size_t size) {
#if defined(__x86_64__)
    std::uint32_t reg = ~crc;
    constexpr std::size_t smallest_fold = 64;
    if (size >= smallest_fold) {
        const std::size_t folded = size & ~std::size_t{15};
        reg = update_carryless(reg, data, folded);
        data += folded;
        size -= folded;
    }
    return ~update_by_table(reg, data, size);
#else
    return crc32_extend_by_table(crc, data, size);
#endif
}

std::uint32_t crc32_extend(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    static const updater chosen =
        crc32_carryless_available() ? crc32_extend_carryless : crc32_extend_by_table;
    return chosen(crc, data, size);
}
