#include "platform/gfx/PngWriter.h"

#include "platform/gfx/CairoPtr.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>
#include <zlib.h>

namespace platform {

namespace {

// zlib's quickest level still finds the long runs of flat colour a page is made of; the higher
// levels and a per-row filter search cost several times as long for a file a third smaller.
constexpr int kQuickestDeflate = 1;
// The picture is compressed in parts at once, each part on a thread of its own, as pigz does: a
// screenshot is often the program's last act, and deflating is most of what writing one costs. A
// part is at least this many bytes of rows, and there are at most kMostParts, so the file's bytes
// depend only on the picture, not on the machine's cores.
constexpr std::size_t kLeastPartBytes = std::size_t{1} << 18;
constexpr std::size_t kMostParts = 2;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// One row of Cairo words (native-endian, alpha on top, colour premultiplied) as PNG bytes.
// Straight colour is rounded as Cairo rounds it, so a file read back gives the same pixels.
void convertRow(const std::uint32_t* pixels, int width, bool alpha, unsigned char* out) {
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

/// Some rows, deflated without a zlib header or trailer, and the Adler-32 of their bytes.
struct Part {
    std::vector<unsigned char> deflated;
    uLong adler = 0;
    std::size_t bytes = 0;
    bool ok = false;
};

/// Deflates rows [first, end) of the picture, each led by its filter byte (none). A part that is
/// not the last ends with a sync flush, on a byte boundary and without the final-block mark, so
/// the next part's deflate data can follow it in one stream.
Part deflateRows(const Picture& picture, int first, int end, bool last) {
    Part part;
    z_stream stream{};
    // A negative window size: raw deflate data, the header and the checksum being written once.
    if (deflateInit2(&stream, kQuickestDeflate, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return part;
    }
    std::vector<unsigned char> row(picture.rowBytes());
    row[0] = 0;
    // Grown as needed: a page compresses to a few per cent of its bytes, and a bound-sized buffer
    // would cost more in fresh pages than the compression.
    constexpr std::size_t kOutputStep = std::size_t{1} << 16;
    part.adler = adler32(0L, Z_NULL, 0);
    bool ok = true;
    for (int y = first; y < end && ok; ++y) {
        const auto* words = reinterpret_cast<const std::uint32_t*>(
            picture.data + static_cast<std::ptrdiff_t>(y) * picture.stride);
        convertRow(words, picture.width, picture.alpha, row.data() + 1);
        part.adler = adler32(part.adler, row.data(), static_cast<uInt>(row.size()));
        stream.next_in = row.data();
        stream.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 < end ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
        int status = Z_OK;
        do {
            if (stream.avail_out == 0) {
                const std::size_t used = part.deflated.size();
                part.deflated.resize(used + kOutputStep);
                stream.next_out = part.deflated.data() + used;
                stream.avail_out = static_cast<uInt>(kOutputStep);
            }
            status = deflate(&stream, flush);
        } while (status == Z_OK && stream.avail_out == 0);
        ok = stream.avail_in == 0 &&
             (flush == Z_FINISH ? status == Z_STREAM_END : status == Z_OK || status == Z_BUF_ERROR);
    }
    const std::size_t inputBytes = row.size() * static_cast<std::size_t>(end - first);
    part.bytes = inputBytes;
    part.deflated.resize(stream.total_out);
    part.ok = ok;
    deflateEnd(&stream);
    return part;
}

/// The picture's rows as one zlib stream, compressed in parts on as many threads; a part whose
/// thread cannot be had is compressed here. Empty if zlib failed.
std::vector<unsigned char> zlibStream(const Picture& picture) {
    const std::size_t totalBytes = picture.rowBytes() * static_cast<std::size_t>(picture.height);
    const std::size_t parts = std::clamp<std::size_t>(totalBytes / kLeastPartBytes, 1,
                                                      std::min<std::size_t>(kMostParts, picture.height));
    std::vector<int> starts;
    for (std::size_t i = 0; i <= parts; ++i) {
        starts.push_back(static_cast<int>(static_cast<std::size_t>(picture.height) * i / parts));
    }
    std::vector<std::future<Part>> others;
    for (std::size_t i = 1; i < parts; ++i) {
        try {
            others.push_back(std::async(std::launch::async, deflateRows, std::cref(picture), starts[i],
                                        starts[i + 1], i + 1 == parts));
        } catch (const std::system_error&) {
            others.push_back(std::async(std::launch::deferred, deflateRows, std::cref(picture), starts[i],
                                        starts[i + 1], i + 1 == parts));
        }
    }
    std::vector<Part> done;
    done.push_back(deflateRows(picture, starts[0], starts[1], parts == 1));
    for (std::future<Part>& other : others) {
        done.push_back(other.get());
    }

    // The zlib header for deflate with a 32 KiB window at the fastest level, and its check bits.
    std::vector<unsigned char> stream{0x78, 0x01};
    uLong adler = adler32(0L, Z_NULL, 0);
    for (const Part& part : done) {
        if (!part.ok) {
            return {};
        }
        stream.insert(stream.end(), part.deflated.begin(), part.deflated.end());
        adler = adler32_combine(adler, part.adler, static_cast<z_off_t>(part.bytes));
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
        stream.push_back(static_cast<unsigned char>((adler >> shift) & 0xffu));
    }
    return stream;
}

void putBigEndian(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xffu));
    }
}

/// Writes one PNG chunk: its length, type, data and the CRC of type and data. False if a write failed.
bool writeChunk(std::FILE* file, const char (&type)[5], const unsigned char* data, std::size_t length) {
    std::vector<unsigned char> head;
    putBigEndian(head, static_cast<std::uint32_t>(length));
    head.insert(head.end(), type, type + 4);
    uLong crc = crc32(0L, head.data() + 4, 4);
    if (length > 0) {
        crc = crc32(crc, data, static_cast<uInt>(length));
    }
    std::vector<unsigned char> tail;
    putBigEndian(tail, static_cast<std::uint32_t>(crc));
    return std::fwrite(head.data(), 1, head.size(), file) == head.size() &&
           (length == 0 || std::fwrite(data, 1, length, file) == length) &&
           std::fwrite(tail.data(), 1, tail.size(), file) == tail.size();
}

/// The whole file. libpng cannot take deflate data compressed elsewhere, so the few bytes of
/// PNG's framing around it (signature, header, data and end chunks) are written here.
bool encode(std::FILE* file, const Picture& picture, const std::vector<unsigned char>& stream) {
    static constexpr std::array<unsigned char, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    putBigEndian(header, static_cast<std::uint32_t>(picture.width));
    putBigEndian(header, static_cast<std::uint32_t>(picture.height));
    const unsigned char kColourType = picture.alpha ? 6 : 2; // RGBA or RGB
    header.insert(header.end(), {8, kColourType, 0, 0, 0}); // 8 bits, deflate, no filter method, no interlace
    // Data chunks of at most 1 MiB, as encoders commonly keep them for readers with small buffers.
    constexpr std::size_t kMostChunkBytes = std::size_t{1} << 20;
    bool ok = std::fwrite(kSignature.data(), 1, kSignature.size(), file) == kSignature.size() &&
              writeChunk(file, "IHDR", header.data(), header.size());
    for (std::size_t at = 0; ok && at < stream.size(); at += kMostChunkBytes) {
        ok = writeChunk(file, "IDAT", stream.data() + at, std::min(kMostChunkBytes, stream.size() - at));
    }
    return ok && writeChunk(file, "IEND", nullptr, 0);
}

[[noreturn]] void cannotSave(const std::filesystem::path& path, const std::string& reason) {
    throw std::runtime_error("cannot save " + path.string() + ": " + reason);
}

} // namespace

void writePngFile(cairo_surface_t* surface, const std::filesystem::path& path) {
    if (surface == nullptr || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) {
        cannotSave(path, "not an image surface");
    }
    if (const cairo_status_t status = cairo_surface_status(surface); status != CAIRO_STATUS_SUCCESS) {
        cannotSave(path, cairo_status_to_string(status));
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
        cannotSave(path, "the picture has no pixels");
    }

    const std::vector<unsigned char> stream = zlibStream(picture);
    if (stream.empty()) {
        cannotSave(path, "out of memory");
    }
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        cannotSave(path, "cannot write the file");
    }
    const bool written = encode(file.get(), picture, stream);
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        cannotSave(path, "cannot write the file");
    }
}

} // namespace platform
