#pragma once

// Reading and comparing the pixels of image surfaces in tests.

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Picture.h"

#include <algorithm>
#include <cairo.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

namespace testing_support {

/// One pixel, un-premultiplied, 0 to 255 per component.
struct Rgba {
    int r = 0, g = 0, b = 0, a = 0;
};

inline std::ostream& operator<<(std::ostream& os, const Rgba& c) {
    return os << "rgba(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
}

/// The premultiplied 32-bit word at device pixel (x, y) of an ARGB32 or RGB24 image surface.
inline std::uint32_t wordAt(cairo_surface_t* surface, int x, int y) {
    cairo_surface_flush(surface);
    std::uint32_t word = 0;
    std::memcpy(&word,
                cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface) + 4 * x,
                4);
    return word;
}

/// The pixel at device coordinates (x, y) of an ARGB32 image surface.
inline Rgba pixelAt(cairo_surface_t* surface, int x, int y) {
    const std::uint32_t argb = wordAt(surface, x, y);
    const int a = static_cast<int>(argb >> 24);
    const auto straight = [&](int shift) {
        return a == 0 ? 0 : int((((argb >> shift) & 0xff) * 255 + a / 2) / a);
    };
    return Rgba{straight(16), straight(8), straight(0), a};
}

/// How far apart two pictures of the same size are, channel by channel of their premultiplied words.
struct Difference {
    long pixels = 0;
    long inked = 0;               ///< pixels not clear in one or the other
    long stray = 0;               ///< pixels clear in one and clearly inked (alpha over 64) in the other
    long off = 0;                 ///< pixels with a channel off by more than the few levels asked about
    int largest = 0;              ///< the largest difference of any channel
    double total = 0;             ///< the sum of the differences of every channel
    int firstX = -1, firstY = -1; ///< the first pixel that is off
    double mean() const { return total / (4.0 * static_cast<double>(pixels)); }
};

inline Difference differenceOf(cairo_surface_t* a, cairo_surface_t* b, int fewLevels) {
    Difference d;
    for (int y = 0; y < cairo_image_surface_get_height(a); ++y) {
        for (int x = 0; x < cairo_image_surface_get_width(a); ++x) {
            const std::uint32_t pa = wordAt(a, x, y);
            const std::uint32_t pb = wordAt(b, x, y);
            int largest = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const int channel = std::abs(int((pa >> shift) & 0xff) - int((pb >> shift) & 0xff));
                d.total += channel;
                largest = std::max(largest, channel);
            }
            const std::uint32_t alphaA = pa >> 24, alphaB = pb >> 24;
            ++d.pixels;
            d.inked += alphaA != 0 || alphaB != 0;
            d.stray += (alphaA == 0 && alphaB > 64) || (alphaB == 0 && alphaA > 64);
            if (largest > fewLevels && d.off++ == 0) {
                d.firstX = x, d.firstY = y;
            }
            d.largest = std::max(d.largest, largest);
        }
    }
    return d;
}

/// Success when two image surfaces have the same size, format and pixel words; otherwise the
/// first pixel that differs and how many do.
inline testing::AssertionResult samePixels(cairo_surface_t* expected, cairo_surface_t* actual) {
    if (cairo_image_surface_get_format(actual) != cairo_image_surface_get_format(expected) ||
        cairo_image_surface_get_width(actual) != cairo_image_surface_get_width(expected) ||
        cairo_image_surface_get_height(actual) != cairo_image_surface_get_height(expected)) {
        return testing::AssertionFailure() << "the pictures differ in size or format";
    }
    const Difference d = differenceOf(expected, actual, 0);
    return d.off == 0 ? testing::AssertionSuccess()
                      : testing::AssertionFailure() << d.off << " pixels differ, the first at (" << d.firstX
                                                    << ", " << d.firstY << "), by up to " << d.largest;
}

/// An image surface of `format` whose pixel (x, y) holds the word `word(x, y)` (an A8 one its
/// low byte).
inline platform::CairoSurfacePtr surfaceOfWords(cairo_format_t format, int width, int height,
                                                const std::function<std::uint32_t(int, int)>& word) {
    platform::CairoSurfacePtr surface = platform::makeImageSurface(width, height, format);
    cairo_surface_flush(surface.get());
    for (int y = 0; y < height; ++y) {
        unsigned char* row =
            cairo_image_surface_get_data(surface.get()) + y * cairo_image_surface_get_stride(surface.get());
        for (int x = 0; x < width; ++x) {
            const std::uint32_t w = word(x, y);
            if (format == CAIRO_FORMAT_A8) {
                row[x] = static_cast<unsigned char>(w);
            } else {
                std::memcpy(row + 4 * x, &w, 4);
            }
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

/// An image surface painted in one colour, its components straight (not premultiplied), 0 to 1.
inline platform::CairoSurfacePtr paintedSurface(int width, int height, double r, double g, double b,
                                                double a = 1.0, cairo_format_t format = CAIRO_FORMAT_ARGB32) {
    platform::CairoSurfacePtr surface = platform::makeImageSurface(width, height, format);
    const platform::CairoContextPtr cr = platform::makeContext(surface.get());
    cairo_set_source_rgba(cr.get(), r, g, b, a);
    cairo_paint(cr.get());
    return surface;
}

/// What `draw` (in points) puts on a clear picture of `width` x `height` device pixels at `scale`,
/// composed onto a clear surface of that size.
inline platform::CairoSurfacePtr
composedPicture(int width, int height, int scale,
                const std::function<void(platform::GraphicsContext&)>& draw) {
    platform::Picture picture;
    picture.redraw(width, height, scale, false, draw);
    platform::CairoSurfacePtr surface = platform::makeImageSurface(width, height);
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    picture.composeInto(surface.get(), cairo_rectangle_int_t{0, 0, width, height}, identity);
    return surface;
}

/// Strokes the polyline through `points` as the trace is drawn, by Cairo alone: a translucent blue
/// two points wide, with round joins and caps.
template <typename Points> void cairoTrace(cairo_t* cr, const Points& points) {
    for (const auto& p : points) {
        cairo_line_to(cr, p.x, p.y);
    }
    cairo_set_source_rgba(cr, 0.0, 0.2, 0.9, 0.7);
    cairo_set_line_width(cr, 2.0);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_stroke(cr);
}

} // namespace testing_support
