#include "platform/gfx/PngReader.h"

#include "platform/gfx/PngFormat.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <new>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t kChunkFraming = 12; // length, type, ..., checksum
constexpr std::uint32_t kHeaderLength = 13;
constexpr std::uint32_t kLongestChunk = 0x7fffffffu;
// Cairo holds images up to this many pixels a side.
constexpr std::uint32_t kLargestSide = 32767;
// Deflate cannot expand its input more than about 1032 times: data claiming more is cut short,
// found out before a large buffer is asked for.
constexpr std::size_t kMostInflation = 1032;
constexpr unsigned kRgb = 2;
constexpr unsigned kRgba = 6;
// A chunk type whose first letter is upper case is critical: a reader must understand it.
constexpr unsigned char kAncillaryBit = 0x20;

bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};

struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned channels = 0;
};

/// What the chunks say, once each checksum holds: the header, and the image data in one piece
/// (in place when it is in one chunk, as ours are, copied together otherwise).
struct Parsed {
    Header header;
    std::span<const unsigned char> data;
    std::vector<unsigned char> joined;
};

bool parseHeader(std::span<const unsigned char> body, Header& header) {
    if (body.size() != kHeaderLength) {
        return false;
    }
    header.width = png::bigEndian(body.data());
    header.height = png::bigEndian(body.data() + 4);
    const unsigned depth = body[8];
    const unsigned colourType = body[9];
    const bool plain =
        body[10] == 0 && body[11] == 0 && body[12] == 0; // deflate, adaptive filters, not interlaced
    header.channels = colourType == kRgb ? 3 : colourType == kRgba ? 4 : 0;
    return header.width > 0 && header.height > 0 && header.width <= kLargestSide &&
           header.height <= kLargestSide && depth == 8 && header.channels != 0 && plain;
}

bool parse(std::span<const unsigned char> file, Parsed& parsed) {
    if (file.size() < png::kSignature.size() ||
        std::memcmp(file.data(), png::kSignature.data(), png::kSignature.size()) != 0) {
        return false;
    }
    std::vector<std::span<const unsigned char>> pieces;
    bool dataEnded = false;
    for (std::size_t at = png::kSignature.size();;) {
        if (file.size() - at < kChunkFraming) {
            return false; // cut short before the end chunk
        }
        const std::uint32_t length = png::bigEndian(file.data() + at);
        if (length > kLongestChunk || file.size() - at - kChunkFraming < length) {
            return false;
        }
        const unsigned char* type = file.data() + at + 4;
        const std::span<const unsigned char> body = file.subspan(at + 8, length);
        const unsigned char* checksum = file.data() + at + 8 + length;
        if (!std::all_of(type, type + 4, isLetter) ||
            png::chunkChecksum(type, length) != png::bigEndian(checksum)) {
            return false;
        }
        const bool first = at == png::kSignature.size();
        at += kChunkFraming + length;
        if (first != (std::memcmp(type, "IHDR", 4) == 0)) {
            return false;
        }
        if (first) {
            if (!parseHeader(body, parsed.header)) {
                return false;
            }
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            if (dataEnded) {
                return false; // image data in two runs
            }
            pieces.push_back(body);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            return false; // a transparent colour: Cairo gives it an alpha channel
        } else if ((type[0] & kAncillaryBit) == 0) {
            return false; // a critical chunk not needed here (a suggested palette) or not understood
        } else {
            dataEnded = !pieces.empty();
        }
    }
    if (pieces.empty()) {
        return false;
    }
    if (pieces.size() == 1) {
        parsed.data = pieces.front();
    } else {
        for (const std::span<const unsigned char>& piece : pieces) {
            parsed.joined.insert(parsed.joined.end(), piece.begin(), piece.end());
        }
        parsed.data = parsed.joined;
    }
    return true;
}

unsigned char paeth(int left, int up, int upLeft) {
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) {
        return static_cast<unsigned char>(left);
    }
    return static_cast<unsigned char>(toUp <= toUpLeft ? up : upLeft);
}

/// Undoes a row's filter in place; `previous` is the row above, already undone, or null for the
/// first row. False for a filter type that does not exist.
bool unfilter(unsigned filter, unsigned char* row, const unsigned char* previous, std::size_t length,
              std::size_t pixelBytes) {
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t i = pixelBytes; i < length; ++i) {
            row[i] = static_cast<unsigned char>(row[i] + row[i - pixelBytes]);
        }
        return true;
    case 2:
        if (previous != nullptr) {
            for (std::size_t i = 0; i < length; ++i) {
                row[i] = static_cast<unsigned char>(row[i] + previous[i]);
            }
        }
        return true;
    case 3:
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned left = i >= pixelBytes ? row[i - pixelBytes] : 0u;
            const unsigned up = previous != nullptr ? previous[i] : 0u;
            row[i] = static_cast<unsigned char>(row[i] + ((left + up) >> 1));
        }
        return true;
    case 4:
        for (std::size_t i = 0; i < length; ++i) {
            const int left = i >= pixelBytes ? row[i - pixelBytes] : 0;
            const int up = previous != nullptr ? previous[i] : 0;
            const int upLeft = previous != nullptr && i >= pixelBytes ? previous[i - pixelBytes] : 0;
            row[i] = static_cast<unsigned char>(row[i] + paeth(left, up, upLeft));
        }
        return true;
    default:
        return false;
    }
}

// Cairo's own rounding when it premultiplies a file's colour by its alpha.
std::uint32_t premultiplied(unsigned alpha, unsigned colour) {
    const unsigned product = alpha * colour + 0x80u;
    return (product + (product >> 8)) >> 8;
}

// An opaque pixel from its red, green and blue bytes.
std::uint32_t opaqueWord(const unsigned char* rgb) {
    return 0xff000000u | (std::uint32_t{rgb[0]} << 16) | (std::uint32_t{rgb[1]} << 8) | rgb[2];
}

void convertRow(const unsigned char* row, std::uint32_t width, unsigned channels, std::uint32_t* out) {
    if (channels == 3) {
        for (std::uint32_t x = 0; x < width; ++x, row += 3) {
            out[x] = opaqueWord(row);
        }
        return;
    }
    for (std::uint32_t x = 0; x < width; ++x, row += 4) {
        const unsigned alpha = row[3];
        if (alpha == 0xffu) {
            out[x] = opaqueWord(row);
        } else if (alpha == 0) {
            out[x] = 0;
        } else {
            out[x] = (std::uint32_t{alpha} << 24) | (premultiplied(alpha, row[0]) << 16) |
                     (premultiplied(alpha, row[1]) << 8) | premultiplied(alpha, row[2]);
        }
    }
}

CairoSurfacePtr decode(const Parsed& parsed) {
    const Header& header = parsed.header;
    const std::size_t rowBytes = 1 + std::size_t{header.width} * header.channels;
    const std::size_t rawBytes = rowBytes * header.height;
    if (rawBytes / kMostInflation > parsed.data.size()) {
        return nullptr;
    }
    const std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor) {
        return nullptr;
    }
    const auto raw = std::make_unique_for_overwrite<unsigned char[]>(rawBytes);
    // Without a place for the length it found, the stream must fill the rows exactly, and be all
    // of the data.
    if (libdeflate_zlib_decompress(decompressor.get(), parsed.data.data(), parsed.data.size(), raw.get(),
                                   rawBytes, nullptr) != LIBDEFLATE_SUCCESS) {
        return nullptr;
    }

    const cairo_format_t format = header.channels == 3 ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
    CairoSurfacePtr surface(
        cairo_image_surface_create(format, static_cast<int>(header.width), static_cast<int>(header.height)));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    cairo_surface_flush(surface.get());
    unsigned char* pixels = cairo_image_surface_get_data(surface.get());
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface.get()));
    const unsigned char* previous = nullptr;
    for (std::uint32_t y = 0; y < header.height; ++y) {
        unsigned char* row = raw.get() + y * rowBytes;
        if (!unfilter(row[0], row + 1, previous, rowBytes - 1, header.channels)) {
            return nullptr;
        }
        convertRow(row + 1, header.width, header.channels,
                   reinterpret_cast<std::uint32_t*>(pixels + y * stride));
        previous = row + 1;
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

} // namespace

CairoSurfacePtr decodeSimplePng(std::span<const unsigned char> file) {
    try {
        Parsed parsed;
        return parse(file, parsed) ? decode(parsed) : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr; // Cairo tries again, and says so if it cannot either
    }
}

} // namespace platform
