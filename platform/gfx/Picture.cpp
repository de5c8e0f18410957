#include "platform/gfx/Picture.h"

#include "platform/gfx/Blend.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// Tiles of a large picture that hold anything, as runs along each row of tiles. A drop shadow or
// a frame is mostly clear inside, and composing clear pixels costs as much as any other.
constexpr int kTilePixels = 32;
constexpr int kMinTiledPixels = 256 * 256;
// Below a pixel's width the distance rule gives thin lines a different weight than Cairo's area
// rule; those few go through Cairo.
constexpr double kMinCoverageRadius = 0.5;
// The mask's fixed-point ramps count pixels along a row in 16.16.
constexpr int kMaxCoverageWidth = 16384;
// Beyond this a shift is no picture on any surface: it is sampled, and finds nothing to sample.
constexpr double kMaxShift = 1.0e6;

constexpr cairo_rectangle_int_t kNothing{0, 0, 0, 0};

bool isEmpty(const cairo_rectangle_int_t& r) {
    return r.width <= 0 || r.height <= 0;
}

cairo_rectangle_int_t intersect(const cairo_rectangle_int_t& a, const cairo_rectangle_int_t& b) {
    const int x1 = std::max(a.x, b.x);
    const int y1 = std::max(a.y, b.y);
    const int x2 = std::min(a.x + a.width, b.x + b.width);
    const int y2 = std::min(a.y + a.height, b.y + b.height);
    return cairo_rectangle_int_t{x1, y1, std::max(0, x2 - x1), std::max(0, y2 - y1)};
}

const std::uint32_t* row(const ImageBits& bits, int y) {
    return reinterpret_cast<const std::uint32_t*>(bits.data + static_cast<std::ptrdiff_t>(y) * bits.stride);
}

// The box around the picture's pixels that are not clear: a needle or a frame covers a small part
// of its surface, and every clear pixel composed (turned, worse) costs as much as any other.
cairo_rectangle_int_t tightInk(const ImageBits& bits) {
    int left = bits.width;
    int right = -1;
    int top = bits.height;
    int bottom = -1;
    for (int y = 0; y < bits.height; ++y) {
        const std::uint32_t* pixels = row(bits, y);
        int first = 0;
        while (first < bits.width && (pixels[first] >> 24) == 0u) {
            ++first;
        }
        if (first == bits.width) {
            continue;
        }
        int last = bits.width - 1;
        while ((pixels[last] >> 24) == 0u) {
            --last;
        }
        left = std::min(left, first);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    return right < left ? kNothing : cairo_rectangle_int_t{left, top, right - left + 1, bottom - top + 1};
}

std::vector<cairo_rectangle_int_t> inkedTiles(const ImageBits& bits, const cairo_rectangle_int_t& ink) {
    std::vector<cairo_rectangle_int_t> tiles;
    if (ink.width * ink.height < kMinTiledPixels) {
        return tiles;
    }
    const auto tileHasInk = [&](int x0, int y0, int x1, int y1) {
        for (int y = y0; y < y1; ++y) {
            const std::uint32_t* pixels = row(bits, y);
            if (std::any_of(pixels + x0, pixels + x1, [](std::uint32_t p) { return (p >> 24) != 0u; })) {
                return true;
            }
        }
        return false;
    };
    for (int y = ink.y; y < ink.y + ink.height; y += kTilePixels) {
        const int y1 = std::min(y + kTilePixels, ink.y + ink.height);
        int runStart = -1;
        for (int x = ink.x; x <= ink.x + ink.width; x += kTilePixels) {
            const int x1 = std::min(x + kTilePixels, ink.x + ink.width);
            const bool inked = x < ink.x + ink.width && tileHasInk(x, y, x1, y1);
            if (inked && runStart < 0) {
                runStart = x;
            } else if (!inked && runStart >= 0) {
                tiles.push_back(cairo_rectangle_int_t{runStart, y, x - runStart, y1 - y});
                runStart = -1;
            }
        }
    }
    return tiles;
}

void addPath(cairo_t* cr, const Stroke& stroke) {
    cairo_new_path(cr);
    for (std::size_t i = 0; i < stroke.subpathStarts.size(); ++i) {
        const std::size_t begin = stroke.subpathStarts[i];
        const std::size_t end =
            i + 1 < stroke.subpathStarts.size() ? stroke.subpathStarts[i + 1] : stroke.points.size();
        cairo_move_to(cr, stroke.points[begin].x, stroke.points[begin].y);
        for (std::size_t k = begin + 1; k < end; ++k) {
            cairo_line_to(cr, stroke.points[k].x, stroke.points[k].y);
        }
    }
}

cairo_line_join_t cairoJoin(LineJoin join) {
    return join == LineJoin::Round   ? CAIRO_LINE_JOIN_ROUND
           : join == LineJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                     : CAIRO_LINE_JOIN_MITER;
}

cairo_line_cap_t cairoCap(LineCap cap) {
    return cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
           : cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                    : CAIRO_LINE_CAP_BUTT;
}

} // namespace

bool Picture::fits(int widthPixels, int heightPixels, int scale, bool opaque) const {
    return width_ == widthPixels && height_ == heightPixels && scale_ == scale && opaque_ == opaque;
}

void Picture::redraw(int widthPixels, int heightPixels, int scale, bool opaque,
                     const std::function<void(GraphicsContext&)>& draw) {
    if (!fits(widthPixels, heightPixels, scale, opaque)) {
        clear();
        width_ = std::max(widthPixels, 0);
        height_ = std::max(heightPixels, 0);
        scale_ = scale;
        opaque_ = opaque;
    }
    coverage_.reset();
    drewPixels_ = false;
    context_.reset();
    if (width_ > 0 && height_ > 0) {
        draw(context_);
    }
    cr_.reset();
    measure();
}

void Picture::adopt(CairoSurfacePtr pixels, int scale) {
    clear();
    width_ = cairo_image_surface_get_width(pixels.get());
    height_ = cairo_image_surface_get_height(pixels.get());
    scale_ = scale;
    opaque_ = cairo_image_surface_get_format(pixels.get()) == CAIRO_FORMAT_RGB24;
    pixels_ = std::move(pixels);
    pixelsInk_ = cairo_rectangle_int_t{0, 0, width_, height_};
    drewPixels_ = true;
    measure();
}

void Picture::clear() {
    cr_.reset();
    pixels_.reset();
    coverage_.reset();
    drewPixels_ = false;
    pixelsInk_ = ink_ = kNothing;
    tiles_.clear();
    rowSources_.clear();
    width_ = height_ = scale_ = 0;
}

bool Picture::isEmpty() const {
    return ::platform::isEmpty(ink_);
}

cairo_surface_t* Picture::pixelsToDrawOn() {
    if (!pixels_) {
        pixels_ = makeImageSurface(width_, height_, opaque_ ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32);
        pixelsInk_ = kNothing;
    }
    if (!drewPixels_ && !::platform::isEmpty(pixelsInk_)) {
        // Each drawing replaces the one before entirely; only what that inked needs clearing.
        const CairoContextPtr cr = makeContext(pixels_.get());
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
        cairo_rectangle(cr.get(), pixelsInk_.x, pixelsInk_.y, pixelsInk_.width, pixelsInk_.height);
        cairo_fill(cr.get());
    }
    drewPixels_ = true;
    if (coverage_) {
        const cairo_rectangle_int_t ink = mask_.inkBox();
        paintThroughMask(imageBits(pixels_.get()), imageBits(mask_.surface()), 0, 0, ink, *coverage_,
                         mask_.rowInk());
        cairo_surface_mark_dirty_rectangle(pixels_.get(), ink.x, ink.y, ink.width, ink.height);
        coverage_.reset();
    }
    return pixels_.get();
}

cairo_t* Picture::cairo() {
    if (!cr_) {
        cr_ = makeContext(pixelsToDrawOn());
        cairo_scale(cr_.get(), scale_, scale_);
    }
    return cr_.get();
}

void Picture::stroke(const Stroke& stroke) {
    const double radius = static_cast<double>(stroke.width) * scale_ / 2.0;
    if (stroke.join != LineJoin::Round || stroke.cap != LineCap::Round || !(radius >= kMinCoverageRadius) ||
        width_ > kMaxCoverageWidth) {
        cairo_t* cr = cairo();
        CairoSaveGuard guard(cr);
        addPath(cr, stroke);
        cairo_set_line_width(cr, stroke.width);
        cairo_set_line_join(cr, cairoJoin(stroke.join));
        cairo_set_line_cap(cr, cairoCap(stroke.cap));
        cairo_set_source_rgba(cr, stroke.color.red, stroke.color.green, stroke.color.blue,
                              stroke.color.alpha);
        cairo_stroke(cr);
        return;
    }
    // A round pen's stroke is every point within the radius of the path: its coverage follows from
    // each pixel's distance to the nearest segment.
    if (coverage_) {
        pixelsToDrawOn();
    }
    mask_.reset(width_, height_);
    std::vector<DevicePoint>& device = devicePoints_;
    for (std::size_t i = 0; i < stroke.subpathStarts.size(); ++i) {
        const std::size_t begin = stroke.subpathStarts[i];
        const std::size_t end =
            i + 1 < stroke.subpathStarts.size() ? stroke.subpathStarts[i + 1] : stroke.points.size();
        // A lone move draws nothing, as in any stroked path; a line of no length is a dot.
        if (end - begin < 2) {
            continue;
        }
        device.clear();
        for (std::size_t k = begin; k < end; ++k) {
            device.push_back(DevicePoint{static_cast<double>(scale_) * stroke.points[k].x,
                                         static_cast<double>(scale_) * stroke.points[k].y});
        }
        mask_.addPolyline(device, radius);
    }
    const cairo_rectangle_int_t ink = mask_.inkBox();
    if (::platform::isEmpty(ink)) {
        return;
    }
    coverage_ = stroke.color;
    // The picture is this stroke alone only while nothing else was drawn; otherwise it is painted
    // over what was.
    if (drewPixels_ || opaque_) {
        pixelsToDrawOn();
    }
}

void Picture::measure() {
    tiles_.clear();
    rowSources_.clear();
    if (coverage_) {
        ink_ = mask_.inkBox();
        return;
    }
    if (!drewPixels_) {
        ink_ = kNothing;
        return;
    }
    cairo_surface_flush(pixels_.get());
    const ImageBits bits = imageBits(pixels_.get());
    ink_ = opaque_ ? cairo_rectangle_int_t{0, 0, width_, height_} : tightInk(bits);
    pixelsInk_ = ink_;
    if (!opaque_) {
        tiles_ = inkedTiles(bits, ink_);
    }
    rowSources_ = repeatedRows(bits);
}

void Picture::composeInto(cairo_surface_t* target, const cairo_rectangle_int_t& clip,
                          const cairo_matrix_t& m) {
    if (isEmpty()) {
        return;
    }
    const bool shift = m.xx == 1.0 && m.yy == 1.0 && m.xy == 0.0 && m.yx == 0.0 && m.x0 == std::floor(m.x0) &&
                       m.y0 == std::floor(m.y0) && std::abs(m.x0) < kMaxShift && std::abs(m.y0) < kMaxShift;
    if (shift) {
        const int x = static_cast<int>(m.x0);
        const int y = static_cast<int>(m.y0);
        const auto moved = [&](const cairo_rectangle_int_t& part) {
            return intersect(clip, cairo_rectangle_int_t{part.x + x, part.y + y, part.width, part.height});
        };
        if (coverage_) {
            const cairo_rectangle_int_t area = moved(ink_);
            if (!::platform::isEmpty(area)) {
                paintThroughMask(imageBits(target), imageBits(mask_.surface()), x, y, area, *coverage_,
                                 mask_.rowInk());
                cairo_surface_mark_dirty_rectangle(target, area.x, area.y, area.width, area.height);
            }
            return;
        }
        areas_.clear();
        for (const cairo_rectangle_int_t& part : tiles_.empty() ? std::span(&ink_, 1) : std::span(tiles_)) {
            areas_.push_back(moved(part));
        }
        composeShifted(target, pixels_.get(), x, y, areas_, rowSources_);
        return;
    }
    if (coverage_) {
        // Turned or scaled: as pixels, sampled like any other picture.
        pixelsToDrawOn();
        measure();
    }
    // Only the inked part is sampled: beyond it the picture is clear.
    const ImageBits whole = imageBits(pixels_.get());
    const ImageBits inked{whole.data + static_cast<std::ptrdiff_t>(ink_.y) * whole.stride + 4 * ink_.x,
                          ink_.width, ink_.height, whole.stride};
    cairo_matrix_t fromInked = m;
    cairo_matrix_translate(&fromInked, ink_.x, ink_.y);
    if (composeTransformed(imageBits(target), inked, opaque_, fromInked, clip)) {
        cairo_surface_mark_dirty_rectangle(target, clip.x, clip.y, clip.width, clip.height);
    }
}

} // namespace platform
