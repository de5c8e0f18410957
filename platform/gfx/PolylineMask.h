#pragma once

#include "platform/gfx/Blend.h"
#include "platform/gfx/CairoPtr.h"

#include <cstdint>
#include <span>
#include <vector>

namespace platform {

/// A point in device pixels.
struct DevicePoint {
    double x = 0.0;
    double y = 0.0;
};

/// The coverage of thin polylines stroked with round joins and round caps, rasterised straight into
/// an 8-bit mask the size of the target surface.
///
/// Such a stroke is exactly the set of points within half the line width of the polyline, so each
/// pixel's coverage follows from its distance to the nearest segment: fully inked within half a
/// pixel inside the edge, falling linearly to nothing half a pixel outside it. Overlapping segments
/// therefore ink a pixel once, as one stroked path does, and only the pixels near the line are
/// visited, whereas a general stroker first builds and fills an outline polygon with a round fan
/// at every one of the joins.
///
/// The mask keeps its buffer between uses; it is resized only when the target grows.
class PolylineMask {
public:
    /// Prepares a clear mask of `width` x `height` device pixels. Only what was inked since the
    /// last reset is cleared, so a small stroke costs little however large the surface is.
    void reset(int width, int height);

    /// Adds the coverage of one open polyline of device points stroked with round joins and caps
    /// of `radius` (half the line width, in device pixels). A single point, or segments of no
    /// length, give a round dot. Coordinates must be finite; parts outside the mask are cut off.
    void addPolyline(std::span<const DevicePoint> points, double radius);

    /// The device-pixel box holding every pixel inked since the last reset (empty when none).
    cairo_rectangle_int_t inkBox() const;
    /// For each row of the mask, the run holding every pixel of it inked since the last reset: a
    /// thin trace inks a few pixels of each row of a box as wide as its swing.
    std::span<const PixelRun> rowInk() const { return rowInk_; }

    /// The coverage as an A8 surface over the mask's buffer. Valid until the next reset.
    cairo_surface_t* surface();

    /// Coverage of one pixel, 0 to 255. For tests.
    std::uint8_t coverage(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * stride_ + x]; }

private:
    void addSegment(DevicePoint a, DevicePoint b, double radius);
    void include(int x0, int x1, int y);

    int width_ = 0;
    int height_ = 0;
    std::size_t stride_ = 0;
    std::vector<std::uint8_t> pixels_;
    std::vector<PixelRun> rowInk_;
    CairoSurfacePtr surface_;
    // Inked box, half-open; empty when inkX1_ >= inkX2_.
    int inkX1_ = 0;
    int inkY1_ = 0;
    int inkX2_ = 0;
    int inkY2_ = 0;
};

} // namespace platform
