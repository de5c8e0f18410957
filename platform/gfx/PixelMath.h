#pragma once

#include <cstdint>

// Small helpers shared by the loops that write pixels themselves.

// Marks a loop-heavy function to be built twice on x86-64, once for AVX2 (eight 32-bit lanes) and
// once for the baseline, with the choice made once when the program loads. Elsewhere it is nothing.
#if defined(__x86_64__) && defined(__GNUC__)
#define TREMBIT_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define TREMBIT_WIDE_VECTORS
#endif

namespace platform {

/// Rounds half away from zero, as lround does, without a library call; for values known to fit.
inline std::int32_t roundToInt(double value) {
    return static_cast<std::int32_t>(value < 0.0 ? value - 0.5 : value + 0.5);
}

} // namespace platform
