#pragma once

// Reading pixels of composed pictures in tests.

#include "platform/gfx/CairoPtr.h"

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <ostream>

namespace testing_support {

/// One pixel, un-premultiplied, 0 to 255 per component.
struct Rgba {
    int r = 0;
    int g = 0;
    int b = 0;
    int a = 0;
};

inline std::ostream& operator<<(std::ostream& os, const Rgba& c) {
    return os << "rgba(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
}

/// The pixel at device coordinates (x, y) of an ARGB32 image surface.
inline Rgba pixelAt(cairo_surface_t* surface, int x, int y) {
    cairo_surface_flush(surface);
    const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    std::uint32_t argb = 0;
    __builtin_memcpy(&argb, row + 4 * x, 4);
    Rgba c;
    c.a = static_cast<int>(argb >> 24);
    auto unpremultiply = [&](std::uint32_t v) { return c.a == 0 ? 0 : static_cast<int>((v * 255 + c.a / 2) / c.a); };
    c.r = unpremultiply((argb >> 16) & 0xff);
    c.g = unpremultiply((argb >> 8) & 0xff);
    c.b = unpremultiply(argb & 0xff);
    return c;
}

/// True when two image surfaces of the same size and format hold the same pixels.
inline bool samePixels(cairo_surface_t* a, cairo_surface_t* b) {
    cairo_surface_flush(a);
    cairo_surface_flush(b);
    const int rowBytes = cairo_format_stride_for_width(cairo_image_surface_get_format(a), cairo_image_surface_get_width(a));
    for (int y = 0; y < cairo_image_surface_get_height(a); ++y) {
        if (__builtin_memcmp(cairo_image_surface_get_data(a) + y * cairo_image_surface_get_stride(a),
                             cairo_image_surface_get_data(b) + y * cairo_image_surface_get_stride(b), rowBytes) != 0) {
            return false;
        }
    }
    return true;
}

/// A 32-bit image surface of `format` whose pixel (x, y) holds the word `word(x, y)`, set in rows
/// from the top and left to right.
inline platform::CairoSurfacePtr surfaceOfWords(cairo_format_t format, int width, int height,
                                                const std::function<std::uint32_t(int, int)>& word) {
    platform::CairoSurfacePtr surface = platform::makeImageSurface(width, height, format);
    cairo_surface_flush(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            row[x] = word(x, y);
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

} // namespace testing_support
