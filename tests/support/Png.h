#pragma once

// PNG files put together chunk by chunk in tests, to make any kind of file, and damage no encoder
// would make.

#include "platform/gfx/PngFormat.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <libdeflate.h>
#include <vector>

namespace testing_support {

using Bytes = std::vector<unsigned char>;

/// A chunk's checksum: the CRC-32 of its four type bytes and then its `length` data bytes, which
/// follow the type in the file.
inline std::uint32_t chunkChecksum(const unsigned char* typeAndData, std::size_t length) {
    return libdeflate_crc32(0, typeAndData, 4 + length);
}

/// A chunk of `type` holding `body`, with its length and checksum.
inline Bytes pngChunk(const char* type, const Bytes& body) {
    Bytes out(12 + body.size());
    platform::png::putBigEndian(out.data(), static_cast<std::uint32_t>(body.size()));
    std::memcpy(out.data() + 4, type, 4);
    std::copy(body.begin(), body.end(), out.begin() + 8);
    platform::png::putBigEndian(out.data() + 8 + body.size(), chunkChecksum(out.data() + 4, body.size()));
    return out;
}

/// A header chunk: colour type 2 is RGB, 6 RGBA, 0 grey, 4 grey and alpha, 3 a palette's indexes.
inline Bytes pngHeader(std::uint32_t width, std::uint32_t height, unsigned char colourType = 2,
                       unsigned char bitDepth = 8, unsigned char interlace = 0) {
    Bytes body{0, 0, 0, 0, 0, 0, 0, 0, bitDepth, colourType, 0, 0, interlace};
    platform::png::putBigEndian(body.data(), width);
    platform::png::putBigEndian(body.data() + 4, height);
    return pngChunk("IHDR", body);
}

/// The PNG signature followed by `parts`.
inline Bytes pngFile(const std::vector<Bytes>& parts) {
    Bytes out(platform::png::kSignature.begin(), platform::png::kSignature.end());
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

} // namespace testing_support
