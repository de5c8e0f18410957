#pragma once

#include "platform/gfx/Geometry.h"

#include <cairo.h>
#include <cstddef>
#include <span>

namespace platform {

/// Line joins, with the handheld drawing API's numbering (round = 1).
enum class LineJoin { Miter = 0, Round = 1, Bevel = 2 };
/// Line caps, with the handheld drawing API's numbering (round = 1).
enum class LineCap { Butt = 0, Round = 1, Square = 2 };

/// One stroked path as a drawing context hands it over, in the drawing's points. Every point is
/// finite; a subpath of one point is a lone move and draws nothing.
struct Stroke {
    std::span<const Point> points;
    std::span<const std::size_t> subpathStarts; ///< Where each subpath begins in `points`.
    Color color;
    float width = 1.0f;
    LineJoin join = LineJoin::Miter;
    LineCap cap = LineCap::Butt;
};

/// What a drawing context draws through. The renderer decides how a call becomes pixels; the
/// context only records what the view asked for.
class Renderer {
public:
    /// Draws one stroke, finished when the call returns.
    virtual void stroke(const Stroke& stroke) = 0;
    /// A Cairo context on the drawing, its user space the drawing's points, for drawing beyond
    /// strokes. Owned by the renderer; valid until the drawing ends.
    virtual cairo_t* cairo() = 0;

protected:
    ~Renderer() = default;
};

} // namespace platform
