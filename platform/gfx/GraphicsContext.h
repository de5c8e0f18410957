#pragma once

#include "platform/gfx/Geometry.h"

#include <cairo.h>

namespace platform {

/// Line joins, with the handheld drawing API's numbering (round = 1).
enum class LineJoin { Miter = 0, Round = 1, Bevel = 2 };
/// Line caps, with the handheld drawing API's numbering (round = 1).
enum class LineCap { Butt = 0, Round = 1, Square = 2 };

/// The 2-D drawing calls a view makes in drawRect, over a Cairo context that the caller owns.
/// Coordinates are points in the view's own space.
///
/// Any float may reach a path: a trace stores whatever values arrive. Cairo cannot take every float
/// (its fixed-point paths overflow on huge values and a NaN breaks the whole context), so points are
/// made safe here, once, for every caller: a huge or infinite coordinate is pulled in to a distance
/// far beyond any surface, which keeps the visible part of the line where it would be, and a NaN
/// point has no place, so the path is broken there and picks up at the next finite point.
class GraphicsContext {
public:
    /// Largest distance from the origin, in points, that a path coordinate keeps.
    static constexpr float kMaxCoordinate = 1.0e5f;

    explicit GraphicsContext(cairo_t* cr) : cr_(cr) {}

    void setRGBStrokeColor(double red, double green, double blue, double alpha);
    void setLineJoin(LineJoin join);
    void setLineCap(LineCap cap);
    void setLineWidth(float width);
    void beginPath();
    void moveToPoint(float x, float y);
    void addLineToPoint(float x, float y);
    /// Strokes the current path with the current colour, width, join and cap, then clears it.
    void strokePath();

    /// The Cairo context, for drawing beyond the calls above. Whatever is drawn through it cannot
    /// be followed, so the whole surface counts as inked from then on.
    cairo_t* cairo() {
        inkedEverywhere_ = true;
        return cr_;
    }

    /// Device-pixel box (x, y, width, height) that holds everything stroked so far, or the whole
    /// `surfaceWidth` x `surfaceHeight` once cairo() was used. Empty when nothing was drawn.
    cairo_rectangle_int_t inkExtents(int surfaceWidth, int surfaceHeight) const;

private:
    cairo_t* cr_;
    bool inkedEverywhere_ = false;
    bool inked_ = false;
    double inkX1_ = 0.0;
    double inkY1_ = 0.0;
    double inkX2_ = 0.0;
    double inkY2_ = 0.0;
    Color strokeColor_{0.0, 0.0, 0.0, 1.0};
    bool hasCurrentPoint_ = false;
};

} // namespace platform
