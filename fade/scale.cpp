#include "fade/scale.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VORKA_X86_KERNELS 1
#endif

#include <iterator>

#include "fade/fade_engine.h"

namespace {

// sample * gain / 65536 truncated toward zero, for gains from 0 to 65535, in
// 16-bit lanes only, so that a vector register holds eight or sixteen samples
// and no division is needed: truncating toward zero is scaling the magnitude
// with the quotient rounded down, then putting the sign back.  The magnitude
// of -32768 is 32768, which an unsigned 16-bit lane holds; the high half of
// magnitude * gain is at most 32767, so the sign goes back on without
// overflow.
std::int16_t scale_at_unity(std::int16_t sample, std::uint16_t gain) {
    const auto sign = static_cast<std::uint16_t>(sample >> 15);  // 0 or all ones
    const auto magnitude = static_cast<std::uint16_t>((sample ^ sign) - sign);
    const auto scaled = static_cast<std::uint16_t>((std::uint32_t{magnitude} * gain) >> 16);
    return static_cast<std::int16_t>((scaled ^ sign) - sign);
}

std::size_t scale_one_by_one(std::int16_t* samples, std::size_t count, std::uint16_t gain) {
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = scale_at_unity(samples[i], gain);
    }
    return count;
}

#if defined(VORKA_X86_KERNELS)
// scale_at_unity eight samples at a time; SSE2 is part of every x86-64.
std::size_t scale_sse2(std::int16_t* samples, std::size_t count, std::uint16_t gain) {
    const __m128i gains = _mm_set1_epi16(static_cast<short>(gain));
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        auto* const lane = reinterpret_cast<__m128i*>(samples + i);
        const __m128i sample = _mm_loadu_si128(lane);
        const __m128i sign = _mm_srai_epi16(sample, 15);
        const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(sample, sign), sign);
        const __m128i scaled = _mm_mulhi_epu16(magnitude, gains);
        _mm_storeu_si128(lane, _mm_sub_epi16(_mm_xor_si128(scaled, sign), sign));
    }
    return i;
}

// The same sixteen samples at a time, on processors that have AVX2, which
// takes the magnitude and puts the sign back in one instruction each: the
// scaling costs a few instructions for every vector, and on audio already in
// the cache those instructions are what the fade spends its time on.
__attribute__((target("avx2"))) std::size_t scale_avx2(std::int16_t* samples, std::size_t count,
                                                       std::uint16_t gain) {
    const __m256i gains = _mm256_set1_epi16(static_cast<short>(gain));
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        auto* const lane = reinterpret_cast<__m256i*>(samples + i);
        const __m256i sample = _mm256_loadu_si256(lane);
        const __m256i scaled = _mm256_mulhi_epu16(_mm256_abs_epi16(sample), gains);
        _mm256_storeu_si256(lane, _mm256_sign_epi16(scaled, sample));
    }
    return i;
}

// Thirty-two samples at a time with AVX-512BW, which has no sign
// instruction: the negative lanes are negated under a mask of the samples'
// sign bits instead.
__attribute__((target("avx512f,avx512bw"))) std::size_t scale_avx512(std::int16_t* samples,
                                                                     std::size_t count,
                                                                     std::uint16_t gain) {
    const __m512i gains = _mm512_set1_epi16(static_cast<short>(gain));
    const __m512i zero = _mm512_setzero_si512();
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        auto* const lane = reinterpret_cast<__m512i*>(samples + i);
        const __m512i sample = _mm512_loadu_si512(lane);
        const __mmask32 negative = _mm512_movepi16_mask(sample);
        const __m512i scaled = _mm512_mulhi_epu16(_mm512_abs_epi16(sample), gains);
        _mm512_storeu_si512(lane, _mm512_mask_sub_epi16(scaled, negative, zero, scaled));
    }
    return i;
}
#endif

// Narrowest first: the last one the processor runs is the one used.
const scale_kernel all_kernels[] = {
    {"one by one", scale_one_by_one},
#if defined(VORKA_X86_KERNELS)
    {"sse2", scale_sse2},
    {"avx2", scale_avx2},
    {"avx512bw", scale_avx512},
#endif
};

// The kernels are ordered so that each needs what the one before it needs,
// and more: the processor runs a leading run of them.
std::size_t count_available_kernels() {
#if defined(VORKA_X86_KERNELS)
    if (!__builtin_cpu_supports("avx2")) {
        return 2;
    }
    if (!__builtin_cpu_supports("avx512bw")) {
        return 3;
    }
#endif
    return std::size(all_kernels);
}

}  // namespace

std::size_t available_scale_kernels(const scale_kernel** kernels) {
    static const std::size_t count = count_available_kernels();
    *kernels = all_kernels;
    return count;
}

void scale_samples(std::int16_t* samples, std::size_t count, std::int32_t gain,
                   std::int32_t unity_gain) {
    if (unity_gain == fade_unity_gain && gain == fade_unity_gain) {
        return;  // every sample stays as it is
    }
    if (unity_gain == fade_unity_gain && gain >= 0 && gain < fade_unity_gain) {
        const scale_kernel* kernels = nullptr;
        const std::size_t kernel_count = available_scale_kernels(&kernels);
        const scale_kernel& widest = kernels[kernel_count - 1];
        const auto gain16 = static_cast<std::uint16_t>(gain);
        const std::size_t done = widest.run(samples, count, gain16);
        scale_one_by_one(samples + done, count - done, gain16);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t product = std::int64_t{samples[i]} * gain;
        samples[i] = static_cast<std::int16_t>(product / unity_gain);
    }
}
