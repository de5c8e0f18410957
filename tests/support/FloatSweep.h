#pragma once

// Holding a quick computation against the formula it stands for, float by float.

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace testing_support {

/// Calls `mismatch` with every `stride`-th 32-bit pattern from 0 up to `last`; it says what is
/// wrong with one, or nothing. The test fails, naming the first five wrong ones.
template <typename Mismatch>
void expectNoMismatchAcrossFloats(std::uint32_t stride, Mismatch mismatch, std::uint64_t last = 0xffffffffu) {
    std::uint64_t mismatches = 0;
    for (std::uint64_t pattern = 0; pattern <= last; pattern += stride) {
        const std::optional<std::string> wrong = mismatch(static_cast<std::uint32_t>(pattern));
        if (wrong && ++mismatches <= 5) {
            ADD_FAILURE() << *wrong;
        }
    }
    EXPECT_EQ(0u, mismatches);
}

} // namespace testing_support
