#pragma once

#include "platform/gfx/Geometry.h"

#include <cairo.h>
#include <cstdint>

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

/// Two compositing steps of every recorder frame, written out because Cairo's general paths for
/// them cost more than the rest of the frame together. Both blend OVER with premultiplied alpha and
/// write only inside `area` (target pixels, cut to the target).

/// Paints `color` through the A8 `mask`, whose pixel (0, 0) lies on target pixel (maskX, maskY).
void paintThroughMask(const ImageBits& target, const ImageBits& mask, int maskX, int maskY,
                      cairo_rectangle_int_t area, Color color);

/// Composes premultiplied ARGB `image` under the affine `imageToTarget` (image pixels to target
/// pixels; any turn, scale or shift), sampled bilinearly with nothing beyond its edges.
/// Returns false, drawing nothing, when the matrix cannot be inverted.
bool composeTransformed(const ImageBits& target, const ImageBits& image, const cairo_matrix_t& imageToTarget,
                        cairo_rectangle_int_t area);

} // namespace platform
