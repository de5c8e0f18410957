#include "platform/gfx/PngWriter.h"

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/PngFormat.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace platform {

namespace {

// The quickest level still finds the long runs of flat colour a page is made of; the higher ones
// cost twice as long for a file a tenth smaller. A screenshot is often a run's last act, so it is
// written in a few milliseconds rather than made small. libdeflate compresses a whole buffer
// several times as fast as zlib's streaming deflate, and sums its checks with vector instructions.
constexpr int kQuickestLevel = 1;

// One row of Cairo words (native-endian, alpha on top, colour premultiplied) as PNG bytes.
// Straight colour is rounded as Cairo rounds it, so a file read back gives the same pixels.
void convertRow(const std::uint32_t* pixels, int width, bool alpha, unsigned char* out) {
    const auto opaque = [](std::uint32_t p) { return (p >> 24) == 0xffu; };
    if (std::endian::native == std::endian::little && alpha && std::all_of(pixels, pixels + width, opaque)) {
        // Most rows of a window: nothing to divide, each word only reordered, which the compiler
        // can do several pixels at a time.
        for (int x = 0; x < width; ++x) {
            // Red, green, blue and alpha in memory order: the little-endian word with red and
            // blue swapped.
            const std::uint32_t p = pixels[x];
            const std::uint32_t bytes = (p & 0xff00ff00u) | ((p >> 16) & 0xffu) | ((p & 0xffu) << 16);
            std::memcpy(out + 4 * static_cast<std::ptrdiff_t>(x), &bytes, sizeof bytes);
        }
        return;
    }
    for (int x = 0; x < width; ++x) {
        const std::uint32_t p = pixels[x];
        unsigned r = (p >> 16) & 0xffu;
        unsigned g = (p >> 8) & 0xffu;
        unsigned b = p & 0xffu;
        if (!alpha) {
            *out++ = static_cast<unsigned char>(r);
            *out++ = static_cast<unsigned char>(g);
            *out++ = static_cast<unsigned char>(b);
            continue;
        }
        const unsigned a = p >> 24;
        if (a == 0) {
            r = g = b = 0;
        } else if (a != 0xffu) {
            r = (r * 255 + a / 2) / a;
            g = (g * 255 + a / 2) / a;
            b = (b * 255 + a / 2) / a;
        }
        *out++ = static_cast<unsigned char>(r);
        *out++ = static_cast<unsigned char>(g);
        *out++ = static_cast<unsigned char>(b);
        *out++ = static_cast<unsigned char>(a);
    }
}

struct Picture {
    const unsigned char* data;
    int width;
    int height;
    int stride;
    bool alpha;

    std::size_t rowBytes() const { return 1 + static_cast<std::size_t>(width) * (alpha ? 4u : 3u); }
};

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

/// Bytes of a length known only once they are made: left uninitialised until then.
struct Bytes {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
};

/// The picture's rows, each led by its filter byte (none), as one zlib stream; nothing if
/// libdeflate cannot have its memory. Throws std::bad_alloc.
std::optional<Bytes> zlibStream(const Picture& picture) {
    const std::size_t rowBytes = picture.rowBytes();
    const std::size_t total = rowBytes * static_cast<std::size_t>(picture.height);
    const auto rows = std::make_unique_for_overwrite<unsigned char[]>(total);
    for (int y = 0; y < picture.height; ++y) {
        unsigned char* row = rows.get() + static_cast<std::size_t>(y) * rowBytes;
        row[0] = 0;
        const auto* words = reinterpret_cast<const std::uint32_t*>(
            picture.data + static_cast<std::ptrdiff_t>(y) * picture.stride);
        convertRow(words, picture.width, picture.alpha, row + 1);
    }
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(kQuickestLevel));
    if (!compressor) {
        return std::nullopt;
    }
    // Sized for the worst case, but only the pages written to are ever touched.
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), total);
    Bytes stream{std::make_unique_for_overwrite<unsigned char[]>(bound), 0};
    stream.size = libdeflate_zlib_compress(compressor.get(), rows.get(), total, stream.data.get(), bound);
    if (stream.size == 0) {
        return std::nullopt;
    }
    return stream;
}

/// Appends one PNG chunk: its length, type, data and the CRC of type and data.
void appendChunk(std::string& out, const char (&type)[5], const unsigned char* data, std::size_t length) {
    std::array<unsigned char, 8> head{};
    png::putBigEndian(head.data(), static_cast<std::uint32_t>(length));
    std::memcpy(head.data() + 4, type, 4);
    // The data lies apart from the type here, so the checksum is taken in two steps. libdeflate
    // answers a null buffer with a fresh checksum, so an empty chunk's stops at its type.
    std::uint32_t crc = libdeflate_crc32(0, head.data() + 4, 4);
    if (length > 0) {
        crc = libdeflate_crc32(crc, data, length);
    }
    std::array<unsigned char, 4> tail{};
    png::putBigEndian(tail.data(), crc);
    out.append(reinterpret_cast<const char*>(head.data()), head.size());
    if (length > 0) {
        out.append(reinterpret_cast<const char*>(data), length);
    }
    out.append(reinterpret_cast<const char*>(tail.data()), tail.size());
}

/// The whole file. libpng compresses only through zlib, so the few bytes of PNG's framing around
/// the stream (signature, header, data and end chunks) are put together here.
std::string frame(const Picture& picture, const Bytes& stream) {
    const unsigned char colourType = picture.alpha ? 6 : 2; // RGBA or RGB
    // Width, height, then 8 bits, deflate, no filter method, no interlace.
    std::array<unsigned char, 13> header{0, 0, 0, 0, 0, 0, 0, 0, 8, colourType, 0, 0, 0};
    png::putBigEndian(header.data(), static_cast<std::uint32_t>(picture.width));
    png::putBigEndian(header.data() + 4, static_cast<std::uint32_t>(picture.height));
    // Data chunks of at most 1 MiB, as encoders commonly keep them for readers with small buffers.
    constexpr std::size_t kMostChunkBytes = std::size_t{1} << 20;
    constexpr std::size_t kChunkFramingBytes = 12;
    std::string out;
    out.reserve(png::kSignature.size() + header.size() + stream.size +
                kChunkFramingBytes * (3 + stream.size / kMostChunkBytes));
    out.append(reinterpret_cast<const char*>(png::kSignature.data()), png::kSignature.size());
    appendChunk(out, "IHDR", header.data(), header.size());
    for (std::size_t at = 0; at < stream.size; at += kMostChunkBytes) {
        appendChunk(out, "IDAT", stream.data.get() + at, std::min(kMostChunkBytes, stream.size - at));
    }
    appendChunk(out, "IEND", nullptr, 0);
    return out;
}

} // namespace

std::string encodePng(cairo_surface_t* surface) {
    if (surface == nullptr || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) {
        throw std::runtime_error("not an image surface");
    }
    if (const cairo_status_t status = cairo_surface_status(surface); status != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error(cairo_status_to_string(status));
    }
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    CairoSurfacePtr converted;
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) {
        // Masks and the rarer formats are few and small: made ARGB32 by Cairo, then written as such.
        converted =
            makeImageSurface(cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface));
        CairoContextPtr cr = makeContext(converted.get());
        cairo_set_source_surface(cr.get(), surface, 0.0, 0.0);
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr.get());
        surface = converted.get();
    }
    cairo_surface_flush(surface);
    const Picture picture{cairo_image_surface_get_data(surface), cairo_image_surface_get_width(surface),
                          cairo_image_surface_get_height(surface), cairo_image_surface_get_stride(surface),
                          cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32};
    if (picture.data == nullptr || picture.width <= 0 || picture.height <= 0) {
        throw std::runtime_error("the picture has no pixels");
    }

    std::optional<Bytes> stream;
    try {
        stream = zlibStream(picture);
    } catch (const std::bad_alloc&) {
    }
    if (!stream) {
        throw std::runtime_error("out of memory");
    }
    return frame(picture, *stream);
}

} // namespace platform
