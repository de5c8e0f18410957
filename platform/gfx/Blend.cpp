#include "platform/gfx/Blend.h"

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/PixelMath.h"
#include "platform/gfx/PixmanPtr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>

namespace platform {

namespace {

constexpr std::uint32_t kRedBlue = 0x00ff00ffu;
constexpr std::uint32_t kHalfRedBlue = 0x00800080u;
constexpr std::uint32_t kFull = 255u;
// Pictures smaller than this are read whole; looking for repeated rows would not pay.
constexpr int kMinRepeatedRowsPixels = 256 * 256;
// A table of repeated rows is kept when at least a quarter of the rows repeat another.
constexpr std::size_t kWorthwhileRepeatShare = 4;

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

TREMBIT_WIDE_VECTORS void paintRun(std::uint32_t* row, const std::uint8_t* mask, int count,
                                   std::uint32_t color) {
    for (int i = 0; i < count; ++i) {
        row[i] = over(scalePixel(color, mask[i]), row[i]);
    }
}

TREMBIT_WIDE_VECTORS void overRun(std::uint32_t* row, const std::uint32_t* source, int count) {
    for (int i = 0; i < count; ++i) {
        row[i] = over(source[i], row[i]);
    }
}

TREMBIT_WIDE_VECTORS void copyOpaqueRun(std::uint32_t* row, const std::uint32_t* source, int count) {
    for (int i = 0; i < count; ++i) {
        row[i] = source[i] | 0xff000000u;
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
std::uint32_t channel(double value) {
    return static_cast<std::uint32_t>(value * 65535.0 + 0.5) >> 8;
}

std::uint32_t premultiplied(Color color) {
    const double alpha = std::clamp(color.alpha, 0.0, 1.0);
    return channel(alpha) << 24 | channel(std::clamp(color.red, 0.0, 1.0) * alpha) << 16 |
           channel(std::clamp(color.green, 0.0, 1.0) * alpha) << 8 |
           channel(std::clamp(color.blue, 0.0, 1.0) * alpha);
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
// Pictures are sampled in 16.16 fixed point, so they must stay well inside 32768 pixels.
constexpr int kMaxSampledImage = 16384;

std::uint32_t texel(const ImageBits& image, int x, int y, std::uint32_t alpha) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) {
        return 0u;
    }
    return pixelRow(image, y)[x] | alpha;
}

// Two channels (bits 0-7 and 16-23) of a and b mixed by weight w of b out of kWeightOne, rounded.
inline std::uint32_t mixPair(std::uint32_t a, std::uint32_t b, std::uint32_t w) {
    const std::uint32_t sum = a * (kWeightOne - w) + b * w + (kHalfWeightRound * 0x00010001u);
    return (sum >> kWeightBits) & kRedBlue;
}

inline std::uint32_t mix(std::uint32_t a, std::uint32_t b, std::uint32_t w) {
    return mixPair(a & kRedBlue, b & kRedBlue, w) |
           (mixPair((a >> 8) & kRedBlue, (b >> 8) & kRedBlue, w) << 8);
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

cairo_surface_t* directTarget(cairo_t* cr, cairo_rectangle_int_t& clip) {
    cairo_surface_t* target = cairo_get_target(cr);
    if (target != cairo_get_group_target(cr) || cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) {
        return nullptr;
    }
    const cairo_format_t format = cairo_image_surface_get_format(target);
    double offsetX = 0.0;
    double offsetY = 0.0;
    cairo_surface_get_device_offset(target, &offsetX, &offsetY);
    if ((format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) || offsetX != 0.0 || offsetY != 0.0) {
        return nullptr;
    }
    CairoSaveGuard guard(cr);
    cairo_identity_matrix(cr);
    const CairoRectangleListPtr list(cairo_copy_clip_rectangle_list(cr));
    if (list->status != CAIRO_STATUS_SUCCESS || list->num_rectangles != 1) {
        return nullptr;
    }
    const cairo_rectangle_t& r = list->rectangles[0];
    if (r.x != std::floor(r.x) || r.y != std::floor(r.y) || r.width != std::floor(r.width) ||
        r.height != std::floor(r.height)) {
        return nullptr;
    }
    clip = cairo_rectangle_int_t{static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.width),
                                 static_cast<int>(r.height)};
    return target;
}

ImageBits imageBits(cairo_surface_t* image) {
    cairo_surface_flush(image);
    return ImageBits{cairo_image_surface_get_data(image), cairo_image_surface_get_width(image),
                     cairo_image_surface_get_height(image), cairo_image_surface_get_stride(image)};
}

void paintThroughMask(const ImageBits& target, const ImageBits& mask, int maskX, int maskY,
                      cairo_rectangle_int_t area, Color color, std::span<const PixelRun> rowRuns) {
    if (!cut(area, target.width, target.height)) {
        return;
    }
    cairo_rectangle_int_t inMask{area.x - maskX, area.y - maskY, area.width, area.height};
    if (!cut(inMask, mask.width, mask.height)) {
        return;
    }
    const std::uint32_t source = premultiplied(color);
    for (int y = inMask.y; y < inMask.y + inMask.height; ++y) {
        int from = inMask.x;
        int to = inMask.x + inMask.width;
        if (!rowRuns.empty()) {
            from = std::max(from, rowRuns[static_cast<std::size_t>(y)].from);
            to = std::min(to, rowRuns[static_cast<std::size_t>(y)].to);
        }
        if (from < to) {
            paintRow(pixelRow(target, y + maskY) + from + maskX,
                     mask.data + static_cast<std::ptrdiff_t>(y) * mask.stride + from, to - from, source);
        }
    }
}

bool composeTransformed(const ImageBits& target, const ImageBits& image, bool opaque,
                        const cairo_matrix_t& imageToTarget, cairo_rectangle_int_t area) {
    cairo_matrix_t toImage = imageToTarget;
    if (cairo_matrix_invert(&toImage) != CAIRO_STATUS_SUCCESS || image.width > kMaxSampledImage ||
        image.height > kMaxSampledImage) {
        return false;
    }
    const std::uint32_t alpha = opaque ? 0xff000000u : 0u;
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
                t00 = upper[0] | alpha;
                t10 = upper[1] | alpha;
                t01 = lower[0] | alpha;
                t11 = lower[1] | alpha;
            } else {
                t00 = texel(image, tx, ty, alpha);
                t10 = texel(image, tx + 1, ty, alpha);
                t01 = texel(image, tx, ty + 1, alpha);
                t11 = texel(image, tx + 1, ty + 1, alpha);
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

void composeShifted(cairo_surface_t* target, cairo_surface_t* picture, int x, int y,
                    std::span<const cairo_rectangle_int_t> areas, std::span<const std::uint32_t> rowSources) {
    const bool opaque = cairo_image_surface_get_format(picture) == CAIRO_FORMAT_RGB24;
    const ImageBits targetBits = imageBits(target);
    const ImageBits pictureBits = imageBits(picture);
    PixmanImagePtr targetImage;
    PixmanImagePtr pictureImage;
    if (rowSources.empty()) {
        targetImage = pixmanImageOf(target);
        pictureImage = pixmanImageOf(picture);
    }
    for (cairo_rectangle_int_t area : areas) {
        cairo_rectangle_int_t inPicture{area.x - x, area.y - y, area.width, area.height};
        if (!cut(area, targetBits.width, targetBits.height) ||
            !cut(inPicture, pictureBits.width, pictureBits.height)) {
            continue;
        }
        const int left = std::max(area.x, inPicture.x + x);
        const int right = std::min(area.x + area.width, inPicture.x + x + inPicture.width);
        const int top = std::max(area.y, inPicture.y + y);
        const int bottom = std::min(area.y + area.height, inPicture.y + y + inPicture.height);
        if (left >= right || top >= bottom) {
            continue;
        }
        if (rowSources.empty()) {
            pixman_image_composite32(opaque ? PIXMAN_OP_SRC : PIXMAN_OP_OVER, pictureImage.get(), nullptr,
                                     targetImage.get(), left - x, top - y, 0, 0, left, top, right - left,
                                     bottom - top);
        } else {
            for (int row = top; row < bottom; ++row) {
                std::uint32_t* out = pixelRow(targetBits, row) + left;
                const std::uint32_t* source =
                    pixelRow(pictureBits, static_cast<int>(rowSources[static_cast<std::size_t>(row - y)])) +
                    (left - x);
                if (opaque) {
                    copyOpaqueRun(out, source, right - left);
                } else {
                    overRun(out, source, right - left);
                }
            }
        }
        cairo_surface_mark_dirty_rectangle(target, left, top, right - left, bottom - top);
    }
}

std::vector<std::uint32_t> repeatedRows(const ImageBits& picture) {
    std::vector<std::uint32_t> sources;
    const auto rowBytes = static_cast<std::size_t>(picture.width) * sizeof(std::uint32_t);
    if (picture.data == nullptr || picture.width * picture.height < kMinRepeatedRowsPixels) {
        return sources;
    }
    sources.resize(static_cast<std::size_t>(picture.height));
    // Rows are found again by a hash of their pixels; equal hashes are checked byte for byte.
    std::unordered_multimap<std::uint64_t, std::uint32_t> distinct;
    std::size_t repeats = 0;
    for (int row = 0; row < picture.height; ++row) {
        const std::uint8_t* bytes = picture.data + static_cast<std::ptrdiff_t>(row) * picture.stride;
        auto& source = sources[static_cast<std::size_t>(row)];
        source = static_cast<std::uint32_t>(row);
        // Runs of equal rows (the paper between its rules) need no hash.
        if (row > 0 && std::memcmp(bytes, bytes - picture.stride, rowBytes) == 0) {
            source = sources[static_cast<std::size_t>(row) - 1];
            ++repeats;
            continue;
        }
        const std::uint64_t hash =
            std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(bytes), rowBytes));
        const auto [first, last] = distinct.equal_range(hash);
        const auto same = std::find_if(first, last, [&](const auto& entry) {
            return std::memcmp(bytes,
                               picture.data + static_cast<std::ptrdiff_t>(entry.second) * picture.stride,
                               rowBytes) == 0;
        });
        if (same != last) {
            source = same->second;
            ++repeats;
        } else {
            distinct.emplace(hash, source);
        }
    }
    // With few repeats the picture is read as it is; a table would only add a look-up per row.
    if (repeats * kWorthwhileRepeatShare < sources.size()) {
        sources.clear();
    }
    return sources;
}

void composeSplit(const ImageBits& target, const ImageBits& before, const ImageBits& after, int x, int y,
                  cairo_rectangle_int_t area, double a, double b, double c) {
    // A picture with no pixels is nothing on its side of the line.
    const auto extent = [](const ImageBits& picture, int ImageBits::*size) {
        return picture.data != nullptr ? picture.*size : std::numeric_limits<int>::max();
    };
    cairo_rectangle_int_t inPictures{area.x - x, area.y - y, area.width, area.height};
    if (!cut(area, target.width, target.height) ||
        !cut(inPictures, std::min(extent(before, &ImageBits::width), extent(after, &ImageBits::width)),
             std::min(extent(before, &ImageBits::height), extent(after, &ImageBits::height)))) {
        return;
    }
    const int left = std::max(area.x, inPictures.x + x);
    const int right = std::min(area.x + area.width, inPictures.x + x + inPictures.width) - 1;
    const int top = std::max(area.y, inPictures.y + y);
    const int bottom = std::min(area.y + area.height, inPictures.y + y + inPictures.height) - 1;
    for (int row = top; row <= bottom; ++row) {
        std::uint32_t* out = pixelRow(target, row);
        const std::uint32_t* one = before.data != nullptr ? pixelRow(before, row - y) - x : nullptr;
        const std::uint32_t* other = after.data != nullptr ? pixelRow(after, row - y) - x : nullptr;
        const double rowOffset = b * (row + 0.5) + c;
        const auto distance = [&](int column) { return a * (column + 0.5) + rowOffset; };
        // Pixels strictly between the two half-pixel lines are mixed; the rest lie wholly on the
        // side that the row's left end (or, past the mix, its right end) is on.
        int mixFrom = right + 1;
        int mixTo = right;
        if (a != 0.0) {
            const double x1 = (-0.5 - rowOffset) / a - 0.5;
            const double x2 = (0.5 - rowOffset) / a - 0.5;
            mixFrom = static_cast<int>(
                std::clamp(std::floor(std::min(x1, x2)) + 1.0, double(left), double(right) + 1.0));
            mixTo = static_cast<int>(
                std::clamp(std::ceil(std::max(x1, x2)) - 1.0, double(left) - 1.0, double(right)));
        } else if (std::abs(rowOffset) < 0.5) {
            mixFrom = left;
        }
        const auto pure = [&](int from, int to) {
            const std::uint32_t* source = from > to ? nullptr : distance(from) < 0.0 ? one : other;
            if (source != nullptr) {
                overRun(out + from, source + from, to - from + 1);
            }
        };
        pure(left, std::min(mixFrom, right + 1) - 1);
        for (int column = mixFrom; column <= mixTo; ++column) {
            const double weight = std::clamp(distance(column) + 0.5, 0.0, 1.0);
            const auto share = static_cast<std::uint32_t>(weight * kFull + 0.5);
            const std::uint32_t mixed = (other != nullptr ? scalePixel(other[column], share) : 0u) +
                                        (one != nullptr ? scalePixel(one[column], kFull - share) : 0u);
            out[column] = over(mixed, out[column]);
        }
        pure(std::max(mixTo + 1, mixFrom), right);
    }
}

} // namespace platform
