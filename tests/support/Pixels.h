#pragma once

// Reading and comparing the pixels of image surfaces in tests.

#include "platform/gfx/CairoPtr.h"

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

/// Success when two image surfaces have the same size, format and pixel words; otherwise the
/// first pixel that differs, expected against actual, and how many do.
inline testing::AssertionResult samePixels(cairo_surface_t* expected, cairo_surface_t* actual) {
    const int width = cairo_image_surface_get_width(expected);
    const int height = cairo_image_surface_get_height(expected);
    if (cairo_image_surface_get_format(actual) != cairo_image_surface_get_format(expected) ||
        cairo_image_surface_get_width(actual) != width || cairo_image_surface_get_height(actual) != height) {
        return testing::AssertionFailure() << "the pictures differ in size or format";
    }
    testing::AssertionResult result = testing::AssertionFailure();
    int differing = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t want = wordAt(expected, x, y), got = wordAt(actual, x, y);
            if (want != got && differing++ == 0) {
                result << "pixel (" << x << ", " << y << "): expected " << std::hex << want << ", got " << got
                       << std::dec << "; ";
            }
        }
    }
    return differing == 0 ? testing::AssertionSuccess() : result << differing << " pixels differ";
}

/// How far apart two pictures of the same size are, channel by channel of their premultiplied words.
struct Difference {
    long pixels = 0;
    long inked = 0;   ///< pixels not clear in one or the other
    long stray = 0;   ///< pixels clear in one and clearly inked (alpha over 64) in the other
    long off = 0;     ///< pixels with a channel off by more than the few levels asked about
    int largest = 0;  ///< the largest difference of any channel
    double total = 0; ///< the sum of the differences of every channel
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
            d.off += largest > fewLevels;
            d.largest = std::max(d.largest, largest);
        }
    }
    return d;
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

} // namespace testing_support
