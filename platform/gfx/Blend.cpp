#include "platform/gfx/Blend.h"

#include "platform/gfx/PixelMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint32_t kRedBlue = 0x00ff00ffu;
constexpr std::uint32_t kHalfRedBlue = 0x00800080u;
constexpr std::uint32_t kFull = 255u;

// Two 8-bit channels held in bits 0-7 and 16-23, each times m / 255, rounded as Cairo's own
// compositing rounds.
inline std::uint32_t scalePair(std::uint32_t pair, std::uint32_t m) {
    const std::uint32_t t = pair * m + kHalfRedBlue;
    return ((t + ((t >> 8) & kRedBlue)) >> 8) & kRedBlue;
}

// All four channels of a premultiplied pixel times m / 255.
inline std::uint32_t scalePixel(std::uint32_t pixel, std::uint32_t m) {
    return scalePair(pixel & kRedBlue, m) | (scalePair((pixel >> 8) & kRedBlue, m) << 8);
}

// source OVER destination, both premultiplied: no channel can carry into the next.
inline std::uint32_t over(std::uint32_t source, std::uint32_t destination) {
    return source + scalePixel(destination, kFull - (source >> 24));
}

TREMBIT_WIDE_VECTORS void paintRun(std::uint32_t* row, const std::uint8_t* mask, int count, std::uint32_t color) {
    for (int i = 0; i < count; ++i) {
        row[i] = over(scalePixel(color, mask[i]), row[i]);
    }
}

// A stroke's box is largely clear between its lines: runs of clear mask are stepped over a block at
// a time and the rest painted.
constexpr int kBlock = 16;

bool clearBlock(const std::uint8_t* mask) {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    std::memcpy(&first, mask, sizeof first);
    std::memcpy(&second, mask + sizeof first, sizeof second);
    return (first | second) == 0u;
}

void paintRow(std::uint32_t* row, const std::uint8_t* mask, int count, std::uint32_t color) {
    int start = 0;
    int i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        if (clearBlock(mask + i)) {
            if (i > start) {
                paintRun(row + start, mask + start, i - start, color);
            }
            start = i + kBlock;
        }
    }
    if (count > start) {
        paintRun(row + start, mask + start, count - start, color);
    }
}

// A colour channel as Cairo hands it to its compositor: through 16 bits, then the top 8.
std::uint32_t channel(double value) { return static_cast<std::uint32_t>(value * 65535.0 + 0.5) >> 8; }

std::uint32_t premultiplied(Color color) {
    const double alpha = std::clamp(color.alpha, 0.0, 1.0);
    return channel(alpha) << 24 | channel(std::clamp(color.red, 0.0, 1.0) * alpha) << 16 |
           channel(std::clamp(color.green, 0.0, 1.0) * alpha) << 8 | channel(std::clamp(color.blue, 0.0, 1.0) * alpha);
}

// `area` cut to the w x h pixels from (0, 0); false when nothing is left.
bool cut(cairo_rectangle_int_t& area, int width, int height) {
    const int x1 = std::max(area.x, 0);
    const int y1 = std::max(area.y, 0);
    const int x2 = std::min(area.x + area.width, width);
    const int y2 = std::min(area.y + area.height, height);
    area = cairo_rectangle_int_t{x1, y1, x2 - x1, y2 - y1};
    return x2 > x1 && y2 > y1;
}

std::uint32_t* pixelRow(const ImageBits& bits, int y) {
    return reinterpret_cast<std::uint32_t*>(bits.data + static_cast<std::ptrdiff_t>(y) * bits.stride);
}

// Bilinear weights in 7 bits, as Cairo's own filter uses them.
constexpr int kWeightBits = 7;
constexpr int kWeightOne = 1 << kWeightBits;
constexpr double kFixedOne = 65536.0;
constexpr int kFixedShift = 16;
constexpr std::uint32_t kHalfWeightRound = kWeightOne / 2;

std::uint32_t texel(const ImageBits& image, int x, int y) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) {
        return 0u;
    }
    return pixelRow(image, y)[x];
}

// Two channels (bits 0-7 and 16-23) of a and b mixed by weight w of b out of kWeightOne, rounded.
inline std::uint32_t mixPair(std::uint32_t a, std::uint32_t b, std::uint32_t w) {
    const std::uint32_t sum = a * (kWeightOne - w) + b * w + (kHalfWeightRound * 0x00010001u);
    return (sum >> kWeightBits) & kRedBlue;
}

inline std::uint32_t mix(std::uint32_t a, std::uint32_t b, std::uint32_t w) {
    return mixPair(a & kRedBlue, b & kRedBlue, w) | (mixPair((a >> 8) & kRedBlue, (b >> 8) & kRedBlue, w) << 8);
}

// The four texels around a sample point, mixed down the columns first, then across.
inline std::uint32_t bilinear(std::uint32_t t00, std::uint32_t t10, std::uint32_t t01, std::uint32_t t11,
                              std::int32_t u, std::int32_t v) {
    const auto wx = static_cast<std::uint32_t>(u >> (kFixedShift - kWeightBits)) & (kWeightOne - 1);
    const auto wy = static_cast<std::uint32_t>(v >> (kFixedShift - kWeightBits)) & (kWeightOne - 1);
    return mix(mix(t00, t01, wy), mix(t10, t11, wy), wx);
}

// Narrows [lo, hi] to the x where min <= value0 + slope * x <= max.
void narrow(double value0, double slope, double min, double max, double& lo, double& hi) {
    if (slope == 0.0) {
        if (value0 < min || value0 > max) {
            lo = 1.0;
            hi = 0.0;
        }
        return;
    }
    const double x1 = (min - value0) / slope;
    const double x2 = (max - value0) / slope;
    lo = std::max(lo, std::min(x1, x2));
    hi = std::min(hi, std::max(x1, x2));
}

} // namespace

ImageBits imageBits(cairo_surface_t* image) {
    cairo_surface_flush(image);
    return ImageBits{cairo_image_surface_get_data(image), cairo_image_surface_get_width(image),
                     cairo_image_surface_get_height(image), cairo_image_surface_get_stride(image)};
}

void paintThroughMask(const ImageBits& target, const ImageBits& mask, int maskX, int maskY,
                      cairo_rectangle_int_t area, Color color) {
    if (!cut(area, target.width, target.height)) {
        return;
    }
    cairo_rectangle_int_t inMask{area.x - maskX, area.y - maskY, area.width, area.height};
    if (!cut(inMask, mask.width, mask.height)) {
        return;
    }
    const std::uint32_t source = premultiplied(color);
    for (int y = inMask.y; y < inMask.y + inMask.height; ++y) {
        paintRow(pixelRow(target, y + maskY) + inMask.x + maskX,
                 mask.data + static_cast<std::ptrdiff_t>(y) * mask.stride + inMask.x, inMask.width, source);
    }
}

bool composeTransformed(const ImageBits& target, const ImageBits& image, const cairo_matrix_t& imageToTarget,
                        cairo_rectangle_int_t area) {
    cairo_matrix_t toImage = imageToTarget;
    if (cairo_matrix_invert(&toImage) != CAIRO_STATUS_SUCCESS) {
        return false;
    }
    if (!cut(area, target.width, target.height) || image.width <= 0 || image.height <= 0) {
        return true;
    }
    // A target pixel samples the image where its centre lands, less half a pixel to the texel
    // grid; its four texels touch the image while -1 < u, v < size.
    for (int y = area.y; y < area.y + area.height; ++y) {
        const double cy = y + 0.5;
        const double u0 = toImage.xx * 0.5 + toImage.xy * cy + toImage.x0 - 0.5;
        const double v0 = toImage.yx * 0.5 + toImage.yy * cy + toImage.y0 - 0.5;
        double lo = area.x;
        double hi = area.x + area.width - 1;
        narrow(u0, toImage.xx, -1.0, image.width, lo, hi);
        narrow(v0, toImage.yx, -1.0, image.height, lo, hi);
        if (!(lo <= hi)) {
            continue;
        }
        const int first = static_cast<int>(std::ceil(lo));
        const int last = static_cast<int>(std::floor(hi));
        std::int32_t u = roundToInt((u0 + toImage.xx * first) * kFixedOne);
        std::int32_t v = roundToInt((v0 + toImage.yx * first) * kFixedOne);
        const auto du = roundToInt(toImage.xx * kFixedOne);
        const auto dv = roundToInt(toImage.yx * kFixedOne);
        std::uint32_t* row = pixelRow(target, y);
        for (int x = first; x <= last; ++x, u += du, v += dv) {
            const int tx = u >> kFixedShift;
            const int ty = v >> kFixedShift;
            std::uint32_t t00 = 0;
            std::uint32_t t10 = 0;
            std::uint32_t t01 = 0;
            std::uint32_t t11 = 0;
            if (tx >= 0 && ty >= 0 && tx + 1 < image.width && ty + 1 < image.height) {
                const std::uint32_t* upper = pixelRow(image, ty) + tx;
                const std::uint32_t* lower = pixelRow(image, ty + 1) + tx;
                t00 = upper[0];
                t10 = upper[1];
                t01 = lower[0];
                t11 = lower[1];
            } else {
                t00 = texel(image, tx, ty);
                t10 = texel(image, tx + 1, ty);
                t01 = texel(image, tx, ty + 1);
                t11 = texel(image, tx + 1, ty + 1);
            }
            // Most of a turned picture's rows are clear around a narrow shape.
            if ((t00 | t10 | t01 | t11) == 0u) {
                continue;
            }
            row[x] = over(bilinear(t00, t10, t01, t11, u, v), row[x]);
        }
    }
    return true;
}

} // namespace platform
