#pragma once

#include "platform/gfx/Geometry.h"
#include "platform/gfx/PolylineMask.h"

#include <cairo.h>
#include <cstddef>
#include <vector>

namespace platform {

/// Line joins, with the handheld drawing API's numbering (round = 1).
enum class LineJoin { Miter = 0, Round = 1, Bevel = 2 };
/// Line caps, with the handheld drawing API's numbering (round = 1).
enum class LineCap { Butt = 0, Round = 1, Square = 2 };

/// What a drawing context keeps between display passes so that its fast strokes allocate nothing:
/// the coverage mask and the path's points. Owned by whoever draws again and again (a view).
struct StrokeCache {
    PolylineMask mask;
    /// The path as drawn, in user space until it is stroked.
    std::vector<DevicePoint> path;
    std::vector<std::size_t> subpathStarts;
};

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

    /// `cache` (not owned, may be null) lets round-joined, round-capped strokes on an image surface
    /// be rasterised directly instead of through Cairo's general stroker; the pixels come out the
    /// same but for rounding at the antialiased edge.
    explicit GraphicsContext(cairo_t* cr, StrokeCache* cache = nullptr) : cr_(cr), cache_(cache) {}
    ~GraphicsContext() { flush(); }
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

    /// The Cairo context, for drawing beyond the calls above. Whatever is drawn through it cannot
    /// be followed, so the whole surface counts as inked from then on.
    cairo_t* cairo() {
        flush();
        inkedEverywhere_ = true;
        pathTouched_ = true;
        drewOtherwise_ = true;
        return cr_;
    }

    /// The last fast stroke is kept as coverage until something else is drawn or the context ends,
    /// so that an owner whose whole picture is that one stroke may compose the coverage itself.
    /// True when that is so: nothing but the pending stroke was drawn.
    bool onlyPendingStroke() const { return pending_ && !drewOtherwise_; }
    /// The colour of the pending stroke. Taking it leaves the surface untouched; the coverage stays
    /// in the cache's mask until the cache is used again.
    Color takePendingStroke() {
        pending_ = false;
        return pendingColor_;
    }
    /// Blends a pending stroke into the surface.
    void flush();

    /// Device-pixel box (x, y, width, height) that holds everything stroked so far, or the whole
    /// `surfaceWidth` x `surfaceHeight` once cairo() was used. Empty when nothing was drawn.
    cairo_rectangle_int_t inkExtents(int surfaceWidth, int surfaceHeight) const;

private:
    bool strokeDirectly();
    // Grows the inked box (device pixels) to hold the box from (x1, y1) to (x2, y2).
    void includeInk(double x1, double y1, double x2, double y2);

    cairo_t* cr_;
    StrokeCache* cache_;
    LineJoin join_ = LineJoin::Miter;
    LineCap cap_ = LineCap::Butt;
    float lineWidth_ = 1.0f;
    bool pathTouched_ = false;
    bool pending_ = false;
    Color pendingColor_{0.0, 0.0, 0.0, 1.0};
    bool drewOtherwise_ = false;
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
