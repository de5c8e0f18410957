#pragma once

// What the PNG header reader and the screenshot writer share of the format.

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform::png {

/// The eight bytes every PNG file begins with.
inline constexpr std::array<unsigned char, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

/// A four-byte number as PNG stores lengths, sizes and checksums: most significant byte first.
inline std::uint32_t bigEndian(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

/// Stores `value` in the four bytes from `at`, most significant first.
inline void putBigEndian(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
    }
}

} // namespace platform::png
