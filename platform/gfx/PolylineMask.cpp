#include "platform/gfx/PolylineMask.h"

#include "platform/gfx/PixelMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace platform {

namespace {

constexpr double kFullCoverage = 255.0;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// One segment of the polyline, with what every row it crosses needs of it worked out once.
// Divisions are slow beside everything else done per row, so each segment keeps the reciprocals.
struct Segment {
    Segment(DevicePoint from, DevicePoint to)
        : a(from), b(to), dx(to.x - from.x), dy(to.y - from.y), lengthSquared(dx * dx + dy * dy),
          length(std::sqrt(lengthSquared)), inverseDx(dx != 0.0 ? 1.0 / dx : 0.0),
          inverseMinusDy(dy != 0.0 ? -1.0 / dy : 0.0), inverseLength(length > 0.0 ? 1.0 / length : 0.0),
          step(-dy * inverseLength), inverseStep(step != 0.0 ? 1.0 / step : 0.0) {}

    DevicePoint a;
    DevicePoint b;
    double dx;
    double dy;
    double lengthSquared;
    double length;
    double inverseDx;
    double inverseMinusDy;
    double inverseLength;
    double step; // change of the signed distance from the line per pixel along a row
    double inverseStep;
};

// Narrows [lo, hi] to the x where min <= slope * (x - x0) + offset <= max; `inverse` is 1 / slope.
void narrow(double slope, double inverse, double offset, double min, double max, double x0, double& lo,
            double& hi) {
    if (slope == 0.0) {
        if (offset < min || offset > max) {
            lo = kInfinity;
        }
        return;
    }
    const double x1 = x0 + (min - offset) * inverse;
    const double x2 = x0 + (max - offset) * inverse;
    lo = std::max(lo, std::min(x1, x2));
    hi = std::min(hi, std::max(x1, x2));
}

// Where the horizontal line y meets the points within `reach` of the segment: an interval of x (the
// set is convex), found as the hull of where the line meets the two end discs and the band along
// the segment. False when the line passes by.
bool spanAt(const Segment& s, double reach, double y, double& left, double& right) {
    double lo = kInfinity;
    double hi = -kInfinity;
    for (const DevicePoint& end : {s.a, s.b}) {
        const double rise = y - end.y;
        if (std::abs(rise) <= reach) {
            const double half = std::sqrt(reach * reach - rise * rise);
            lo = std::min(lo, end.x - half);
            hi = std::max(hi, end.x + half);
        }
    }
    if (s.length > 0.0) {
        // Along the segment 0 <= (p - a).d <= |d|^2 and across it |(p - a) x d| <= reach |d|,
        // with p = (x, y) and d = b - a.
        const double rise = y - s.a.y;
        double bandLo = -kInfinity;
        double bandHi = kInfinity;
        narrow(s.dx, s.inverseDx, rise * s.dy, 0.0, s.lengthSquared, s.a.x, bandLo, bandHi);
        narrow(-s.dy, s.inverseMinusDy, rise * s.dx, -reach * s.length, reach * s.length, s.a.x, bandLo,
               bandHi);
        if (bandLo <= bandHi) {
            lo = std::min(lo, bandLo);
            hi = std::max(hi, bandHi);
        }
    }
    left = lo;
    right = hi;
    return lo <= hi;
}

// The pixels whose centres lie in [left, right], cut to [0, width): false when there are none.
bool pixelsWithin(double left, double right, int width, int& first, int& last) {
    const double from = std::max(std::ceil(left - 0.5), 0.0);
    const double to = std::min(std::floor(right - 0.5), static_cast<double>(width - 1));
    if (!(from <= to)) {
        return false;
    }
    first = static_cast<int>(from);
    last = static_cast<int>(to);
    return true;
}

// Beside the segment's length the distance to it is linear along a row, so there the coverage is a
// ramp, worked in 16.16 fixed point, which the compiler runs many pixels at a time.
constexpr double kFixedOne = 65536.0;
constexpr std::int32_t kFixedHalf = 32768;
constexpr std::int32_t kFixedUnit = 65536;
constexpr int kFixedShift = 16;

TREMBIT_WIDE_VECTORS void rampMax(std::uint8_t* line, int count, std::int32_t distance, std::int32_t step,
                                  std::int32_t outer) {
    for (int i = 0; i < count; ++i) {
        std::int32_t across = distance + i * step;
        across = across < 0 ? -across : across;
        std::int32_t reach = outer - across;
        reach = reach < 0 ? 0 : (reach > kFixedUnit ? kFixedUnit : reach);
        const std::int32_t value = (reach * 255 + kFixedHalf) >> kFixedShift;
        const std::int32_t old = line[i];
        line[i] = static_cast<std::uint8_t>(value > old ? value : old);
    }
}

// Past the segment's ends each pixel measures its distance to the end point nearest to it.
void discMax(std::uint8_t* line, int from, int to, double y, DevicePoint end, double outer) {
    const double ey = y - end.y;
    for (int x = from; x <= to; ++x) {
        const double ex = x + 0.5 - end.x;
        const double cover = std::clamp(outer - std::sqrt(ex * ex + ey * ey), 0.0, 1.0);
        const auto value = static_cast<std::uint8_t>(cover * kFullCoverage + 0.5);
        line[x] = std::max(line[x], value);
    }
}

// Raises the coverage of pixels [from, to] of the row whose centres lie at y to what the segment
// stroked with half width `radius` gives them.
void coverRow(std::uint8_t* line, int from, int to, double y, const Segment& s, double radius) {
    const double outer = radius + 0.5;
    // The pixels whose centres project onto the segment itself, 0 <= (p - a).d <= |d|^2, see it
    // side on; the others see one of its ends.
    const double py = y - s.a.y;
    double bandLo = -kInfinity;
    double bandHi = kInfinity;
    if (s.length > 0.0) {
        narrow(s.dx, s.inverseDx, py * s.dy, 0.0, s.lengthSquared, s.a.x - 0.5, bandLo, bandHi);
    } else {
        bandLo = kInfinity;
    }
    const double bandFrom = std::max(std::ceil(bandLo), static_cast<double>(from));
    const double bandTo = std::min(std::floor(bandHi), static_cast<double>(to));
    // Along the row the projection grows with x when dx > 0, so the left-hand pixels see a.
    const bool leftSeesA = s.dx > 0.0 || (s.dx == 0.0 && py * s.dy < 0.0) || s.length == 0.0;
    const DevicePoint leftEnd = leftSeesA ? s.a : s.b;
    const DevicePoint rightEnd = leftSeesA ? s.b : s.a;
    if (!(bandFrom <= bandTo)) {
        // The whole run lies past one end: the one its first pixel projects beyond.
        const bool beforeA = s.length == 0.0 || (from + 0.5 - s.a.x) * s.dx + py * s.dy <= 0.0;
        discMax(line, from, to, y, beforeA ? s.a : s.b, outer);
        return;
    }
    const int first = static_cast<int>(bandFrom);
    const int last = static_cast<int>(bandTo);
    discMax(line, from, first - 1, y, leftEnd, outer);
    // Signed distance from the line at the first pixel (within the stroke's reach, so it fits) and
    // its change per pixel along the row.
    const double across =
        std::clamp((py * s.dx - (first + 0.5 - s.a.x) * s.dy) * s.inverseLength, -outer, outer);
    const double step = s.step;
    const auto ramp = [&](int from, int to) {
        if (from <= to) {
            rampMax(line + from, to - from + 1, roundToInt((across + (from - first) * step) * kFixedOne),
                    roundToInt(step * kFixedOne), roundToInt(outer * kFixedOne));
        }
    };
    // Where the line is at least a pixel inside the edge every pixel is full; a nearly level line
    // crosses many rows' worth of pixels that way, so they are filled, not measured. The run is
    // narrowed by a pixel at each end so rounding never fills one that is only nearly full.
    const double fullReach = outer - 1.0;
    double fullFrom = kInfinity;
    double fullTo = -kInfinity;
    if (fullReach >= 0.0) {
        if (step != 0.0) {
            const double x1 = first + (-fullReach - across) * s.inverseStep;
            const double x2 = first + (fullReach - across) * s.inverseStep;
            fullFrom = std::max(std::ceil(std::min(x1, x2)) + 1.0, static_cast<double>(first));
            fullTo = std::min(std::floor(std::max(x1, x2)) - 1.0, static_cast<double>(last));
        } else if (std::abs(across) <= fullReach) {
            fullFrom = first;
            fullTo = last;
        }
    }
    if (fullFrom <= fullTo) {
        const int fillFrom = static_cast<int>(fullFrom);
        const int fillTo = static_cast<int>(fullTo);
        ramp(first, fillFrom - 1);
        std::memset(line + fillFrom, 0xff, static_cast<std::size_t>(fillTo - fillFrom + 1));
        ramp(fillTo + 1, last);
    } else {
        ramp(first, last);
    }
    discMax(line, last + 1, to, y, rightEnd, outer);
}

} // namespace

void PolylineMask::reset(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width != width_ || height != height_) {
        width_ = width;
        height_ = height;
        stride_ =
            static_cast<std::size_t>(cairo_format_stride_for_width(CAIRO_FORMAT_A8, std::max(width, 1)));
        surface_.reset();
        pixels_.assign(stride_ * static_cast<std::size_t>(height), 0);
        rowInk_.assign(static_cast<std::size_t>(height), PixelRun{});
    } else {
        for (int y = inkY1_; y < inkY2_; ++y) {
            PixelRun& run = rowInk_[static_cast<std::size_t>(y)];
            if (run.from < run.to) {
                std::memset(pixels_.data() + static_cast<std::size_t>(y) * stride_ + run.from, 0,
                            static_cast<std::size_t>(run.to - run.from));
            }
            run = PixelRun{};
        }
    }
    inkX1_ = inkY1_ = inkX2_ = inkY2_ = 0;
}

void PolylineMask::addPolyline(std::span<const DevicePoint> points, double radius) {
    if (points.empty() || !(radius > 0.0)) {
        return;
    }
    if (points.size() == 1) {
        addSegment(points[0], points[0], radius);
        return;
    }
    for (std::size_t i = 1; i < points.size(); ++i) {
        addSegment(points[i - 1], points[i], radius);
    }
}

void PolylineMask::addSegment(DevicePoint a, DevicePoint b, double radius) {
    const Segment segment(a, b);
    const double outer = radius + 0.5;
    const double top = std::max(std::ceil(std::min(a.y, b.y) - outer - 0.5), 0.0);
    const double bottom =
        std::min(std::floor(std::max(a.y, b.y) + outer - 0.5), static_cast<double>(height_ - 1));
    if (!(top <= bottom) || width_ <= 0) {
        return;
    }
    for (int row = static_cast<int>(top); row <= static_cast<int>(bottom); ++row) {
        const double y = row + 0.5;
        double left = 0.0;
        double right = 0.0;
        int first = 0;
        int last = 0;
        if (!spanAt(segment, outer, y, left, right) || !pixelsWithin(left, right, width_, first, last)) {
            continue;
        }
        coverRow(pixels_.data() + static_cast<std::size_t>(row) * stride_, first, last, y, segment, radius);
        include(first, last + 1, row);
    }
}

void PolylineMask::include(int x0, int x1, int y) {
    PixelRun& run = rowInk_[static_cast<std::size_t>(y)];
    if (run.from >= run.to) {
        run = PixelRun{x0, x1};
    } else {
        run.from = std::min(run.from, x0);
        run.to = std::max(run.to, x1);
    }
    if (inkX1_ >= inkX2_) {
        inkX1_ = x0;
        inkX2_ = x1;
        inkY1_ = y;
        inkY2_ = y + 1;
        return;
    }
    inkX1_ = std::min(inkX1_, x0);
    inkX2_ = std::max(inkX2_, x1);
    inkY1_ = std::min(inkY1_, y);
    inkY2_ = std::max(inkY2_, y + 1);
}

cairo_rectangle_int_t PolylineMask::inkBox() const {
    if (inkX1_ >= inkX2_) {
        return cairo_rectangle_int_t{0, 0, 0, 0};
    }
    return cairo_rectangle_int_t{inkX1_, inkY1_, inkX2_ - inkX1_, inkY2_ - inkY1_};
}

cairo_surface_t* PolylineMask::surface() {
    if (!surface_) {
        surface_.reset(cairo_image_surface_create_for_data(pixels_.data(), CAIRO_FORMAT_A8, width_, height_,
                                                           static_cast<int>(stride_)));
        checkCairo(cairo_surface_status(surface_.get()), "the stroke mask");
    }
    cairo_surface_mark_dirty(surface_.get());
    return surface_.get();
}

} // namespace platform
