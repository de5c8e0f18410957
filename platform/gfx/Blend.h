#pragma once

#include "platform/gfx/Geometry.h"

#include <cairo.h>
#include <cstdint>
#include <span>
#include <vector>

namespace platform {

/// The pixels of an image surface: 32-bit premultiplied ARGB (or RGB24), or 8-bit A8.
struct ImageBits {
    std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

/// The pixels of an image surface, after any drawing Cairo still has pending on it. The surface
/// stays owned by the caller; tell Cairo what was changed with cairo_surface_mark_dirty_rectangle.
ImageBits imageBits(cairo_surface_t* image);

/// The context's target when its pixels may be written directly: an image surface (ARGB32 or
/// RGB24) drawn on directly, clipped to one whole-pixel rectangle, returned in `clip` in device
/// pixels. Null otherwise (a group, a device offset, a clip of another shape).
cairo_surface_t* directTarget(cairo_t* cr, cairo_rectangle_int_t& clip);

/// The compositing steps of a frame. Each blends OVER with premultiplied alpha, as Cairo does, and
/// writes only inside `area` (target pixels, cut to the target).

/// Pixels of one row from x = `from` up to, not including, `to`; none when from >= to.
struct PixelRun {
    int from = 0;
    int to = 0;
};

/// Paints `color` through the A8 `mask`, whose pixel (0, 0) lies on target pixel (maskX, maskY).
/// `rowRuns`, unless empty, has an entry for each mask row outside which that row is clear: only
/// those pixels of the mask are read.
void paintThroughMask(const ImageBits& target, const ImageBits& mask, int maskX, int maskY,
                      cairo_rectangle_int_t area, Color color, std::span<const PixelRun> rowRuns = {});

/// Composes premultiplied ARGB `image` (opaque: RGB24, its alpha taken as full) under the affine
/// `imageToTarget` (image pixels to target pixels; any turn, scale or shift), sampled bilinearly as
/// Cairo's filter samples, with nothing beyond its edges. Returns false, drawing nothing, when the
/// matrix cannot be inverted or the image is too large to sample (over 16384 pixels a side).
bool composeTransformed(const ImageBits& target, const ImageBits& image, bool opaque,
                        const cairo_matrix_t& imageToTarget, cairo_rectangle_int_t area);

/// Composes image surface `picture` at a whole-pixel shift into ARGB32 image surface `target`: its
/// pixel (0, 0) on target pixel (x, y), inside each of `areas` (target pixels), which must not
/// overlap. An RGB24 picture is opaque and copied; an ARGB32 one is blended. `rowSources`, unless
/// empty, has an entry for each picture row: row r holds the same pixels as row rowSources[r], and
/// that is the row read, so that a picture whose rows repeat (ruled paper) is read from memory once
/// for each distinct row. Without it the work is pixman's.
void composeShifted(cairo_surface_t* target, cairo_surface_t* picture, int x, int y,
                    std::span<const cairo_rectangle_int_t> areas,
                    std::span<const std::uint32_t> rowSources = {});

/// For a picture many of whose rows repeat, the row each one repeats (its own row when none
/// above it has the same pixels): what composeShifted() takes. Empty when the picture is small or
/// most of its rows differ, where reading it as it is costs no more.
std::vector<std::uint32_t> repeatedRows(const ImageBits& picture);

/// Composes two premultiplied ARGB pictures placed alike, split by a straight line: `before`
/// where d = a (x + 1/2) + b (y + 1/2) + c <= -1/2 at a target pixel (x, y), `after` where d >= 1/2,
/// and between the two both, `after` weighing d + 1/2; (a, b) is a unit normal, so d is the pixel
/// centre's distance from the line. Both pictures' pixel (0, 0) lies on target pixel (x, y). A
/// picture without pixels (null data) leaves its side as it is.
void composeSplit(const ImageBits& target, const ImageBits& before, const ImageBits& after, int x, int y,
                  cairo_rectangle_int_t area, double a, double b, double c);

} // namespace platform
