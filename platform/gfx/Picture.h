#pragma once

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PolylineMask.h"
#include "platform/gfx/Renderer.h"

#include <cairo.h>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

/// One view's picture as the renderer keeps it between frames, in device pixels, and the renderer
/// that draws it: what a view's drawRect draws through its context lands here.
///
/// A picture that is nothing but one round-joined, round-capped stroke over clear (the trace) is
/// kept as that stroke's coverage and its colour, and painted straight onto the page when composed:
/// no picture of its own is cleared, filled or blended. Anything else is pixels, with what makes
/// them cheap to compose worked out once per drawing: the box that holds all that is not clear,
/// the 32-pixel tiles of a large picture that hold anything, and for a large picture whose rows
/// repeat, the row each one repeats.
class Picture final : public Renderer {
public:
    Picture() = default;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    /// Whether the picture was made for this size, scale and opacity.
    bool fits(int widthPixels, int heightPixels, int scale, bool opaque) const;

    /// Draws the picture anew at `widthPixels` x `heightPixels` for pixel scale `scale`: `draw` gets
    /// a context whose user space is points. An opaque picture has no alpha (RGB24); any other
    /// starts clear.
    void redraw(int widthPixels, int heightPixels, int scale, bool opaque,
                const std::function<void(GraphicsContext&)>& draw);
    /// Takes `pixels` as the picture, made for `scale`: RGB24 when opaque, else premultiplied ARGB32.
    void adopt(CairoSurfacePtr pixels, int scale);
    /// Forgets the picture; it then shows nothing.
    void clear();

    /// True when composing the picture would write nothing.
    bool isEmpty() const;
    /// True when the picture covers its whole size with opaque pixels.
    bool isOpaque() const { return opaque_ && drewPixels_; }

    /// Composes the picture into `target`'s pixels inside `clip` (device pixels), its pixel (0, 0)
    /// mapped by `toTarget`. A whole-pixel shift is copied or blended pixel for pixel; any other
    /// matrix is sampled bilinearly, as Cairo's filter samples.
    void composeInto(cairo_surface_t* target, const cairo_rectangle_int_t& clip,
                     const cairo_matrix_t& toTarget);

    // Renderer
    void stroke(const Stroke& stroke) override;
    cairo_t* cairo() override;

private:
    /// Pixels to draw on: cleared where an earlier drawing left anything, with a stroke kept as
    /// coverage painted in, so that what is drawn next lands on top of it.
    cairo_surface_t* pixelsToDrawOn();
    /// Works out the inked box, tiles and repeated rows of what was drawn.
    void measure();

    GraphicsContext context_{*this};
    PolylineMask mask_;
    CairoSurfacePtr pixels_;
    CairoContextPtr cr_;
    std::optional<Color> coverage_;
    cairo_rectangle_int_t ink_{0, 0, 0, 0};
    std::vector<cairo_rectangle_int_t> tiles_;
    std::vector<std::uint32_t> rowSources_;
    // Kept only so that drawing and composing allocate nothing.
    std::vector<DevicePoint> devicePoints_;
    std::vector<cairo_rectangle_int_t> areas_;
    int width_ = 0;
    int height_ = 0;
    int scale_ = 0;
    bool opaque_ = false;
    bool drewPixels_ = false; ///< The last drawing is in the pixels (not only coverage).
    /// Where the pixels may hold anything, from any drawing since they were last cleared.
    cairo_rectangle_int_t pixelsInk_{0, 0, 0, 0};
};

} // namespace platform
