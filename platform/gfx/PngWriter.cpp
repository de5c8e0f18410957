#include "platform/gfx/PngWriter.h"

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/PngPtr.h"

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

namespace {

// zlib's quickest level still finds the long runs of flat colour a page is made of; the higher
// levels and libpng's per-row filter search cost several times as long for a file a third smaller.
constexpr int kQuickestDeflate = 1;
constexpr std::size_t kFileBufferBytes = 1 << 16;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// libpng would print its reasons on standard error; the caller says what failed instead.
[[noreturn]] void leaveOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void ignoreWarning(png_structp, png_const_charp) {}

void writeBytes(png_structp png, png_bytep data, std::size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, file) != length) {
        png_error(png, "write failed");
    }
}

void flushNothing(png_structp) {}

// One row of Cairo words (native-endian, alpha on top, colour premultiplied) as PNG bytes.
// Straight colour is rounded as Cairo rounds it, so a file read back gives the same pixels.
void convertRow(const std::uint32_t* pixels, int width, bool alpha, png_byte* out) {
    for (int x = 0; x < width; ++x) {
        const std::uint32_t p = pixels[x];
        unsigned r = (p >> 16) & 0xffu;
        unsigned g = (p >> 8) & 0xffu;
        unsigned b = p & 0xffu;
        if (!alpha) {
            *out++ = static_cast<png_byte>(r);
            *out++ = static_cast<png_byte>(g);
            *out++ = static_cast<png_byte>(b);
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
        *out++ = static_cast<png_byte>(r);
        *out++ = static_cast<png_byte>(g);
        *out++ = static_cast<png_byte>(b);
        *out++ = static_cast<png_byte>(a);
    }
}

struct Picture {
    const unsigned char* data;
    int width;
    int height;
    int stride;
    bool alpha;
};

// False when libpng gave up. libpng leaves through longjmp, so nothing here may need destroying.
bool encode(const PngWriteStructs& structs, std::FILE* file, const Picture& picture, png_byte* row) {
    png_structp png = structs.png();
    png_infop info = structs.info();
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_write_fn(png, file, writeBytes, flushNothing);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, kQuickestDeflate);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), 8,
                 picture.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    for (int y = 0; y < picture.height; ++y) {
        const auto* words =
            reinterpret_cast<const std::uint32_t*>(picture.data + static_cast<std::ptrdiff_t>(y) * picture.stride);
        convertRow(words, picture.width, picture.alpha, row);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
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
        converted = makeImageSurface(cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface));
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

    const PngWriteStructs structs(leaveOnError, ignoreWarning);
    if (structs.info() == nullptr) {
        cannotSave(path, "out of memory");
    }
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        cannotSave(path, "cannot write the file");
    }
    std::setvbuf(file.get(), nullptr, _IOFBF, kFileBufferBytes);
    std::vector<png_byte> row(static_cast<std::size_t>(picture.width) * (picture.alpha ? 4u : 3u));
    const bool written = encode(structs, file.get(), picture, row.data());
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        cannotSave(path, "cannot write the file");
    }
}

} // namespace platform
