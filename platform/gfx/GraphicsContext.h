#pragma once

#include "platform/gfx/Geometry.h"
#include "platform/gfx/Renderer.h"

#include <cairo.h>
#include <cstddef>
#include <vector>

namespace platform {

/// The 2-D drawing calls a view makes in drawRect, recorded and handed to a renderer: a path is
/// kept until strokePath() gives it, with the colour, width, join and cap in force, to the
/// renderer, which draws it before the call returns. Coordinates are points in the view's space.
///
/// Any float may reach a path: a trace stores whatever values arrive. Points are made safe here,
/// once, for every renderer: a huge or infinite coordinate is pulled in to a distance far beyond
/// any surface, which keeps the visible part of the line where it would be, and a NaN point has no
/// place, so the path is broken there and picks up at the next finite point.
class GraphicsContext {
public:
    /// Largest distance from the origin, in points, that a path coordinate keeps.
    static constexpr float kMaxCoordinate = 1.0e5f;

    /// Draws through `renderer`, which must outlive the context.
    explicit GraphicsContext(Renderer& renderer) : renderer_(renderer) {}
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    void setRGBStrokeColor(double red, double green, double blue, double alpha);
    void setLineJoin(LineJoin join);
    void setLineCap(LineCap cap);
    void setLineWidth(float width);
    void beginPath();
    void moveToPoint(float x, float y);
    void addLineToPoint(float x, float y);
    /// Strokes the current path with the current colour, width, join and cap, then clears it.
    void strokePath();

    /// The renderer's Cairo context, for drawing beyond the calls above.
    cairo_t* cairo() { return renderer_.cairo(); }

    /// Back to a fresh context's state (black, width 1, miter join, butt cap, no path), keeping
    /// the path's storage.
    void reset();

private:
    Renderer& renderer_;
    Color color_{0.0, 0.0, 0.0, 1.0};
    float width_ = 1.0f;
    LineJoin join_ = LineJoin::Miter;
    LineCap cap_ = LineCap::Butt;
    std::vector<Point> points_;
    std::vector<std::size_t> subpathStarts_;
    bool hasCurrentPoint_ = false;
};

} // namespace platform
