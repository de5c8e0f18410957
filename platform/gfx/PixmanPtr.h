#pragma once

#include <cairo.h>
#include <memory>
#include <pixman.h>

// The one home of pixman handles, as CairoPtr.h is Cairo's: an image lives in a unique_ptr whose
// deleter drops pixman's reference, so no other file unrefs one by hand.

namespace platform {

struct PixmanDeleter {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};

using PixmanImagePtr = std::unique_ptr<pixman_image_t, PixmanDeleter>;

/// A pixman image over the pixels of a Cairo image surface (ARGB32, RGB24 or A8). The pixels stay
/// the surface's: the surface must outlive the image, and Cairo must be told what was written
/// (cairo_surface_mark_dirty_rectangle). Throws std::runtime_error for another format.
PixmanImagePtr pixmanImageOf(cairo_surface_t* surface);

} // namespace platform
