#pragma once

#include <cstddef>
#include <cstdint>

// Scales `count` samples (host order) in place: sample * gain / unity_gain as
// a 64-bit product, divided with truncation toward zero.  With the usual
// unity of 65536 and a gain from 0 to 65536 this runs on vector instructions
// without any division.
void scale_samples(std::int16_t* samples, std::size_t count, std::int32_t gain,
                   std::int32_t unity_gain);

// The kernels behind scale_samples for unity 65536 and gains from 0 to
// 65535, each usable on its own so that every one of them can be checked
// whatever the processor running the tests prefers.  A vector kernel does
// whole vectors only and returns how many samples it did.
struct scale_kernel {
    const char* name;
    std::size_t (*run)(std::int16_t* samples, std::size_t count, std::uint16_t gain);
};

// The kernels this processor can run, the one-by-one kernel first; it does
// every sample.
std::size_t available_scale_kernels(const scale_kernel** kernels);
