#pragma once

#include <cairo.h>
#include <string>

namespace platform {

/// An image surface as the bytes of a PNG file: RGB for RGB24, straight-alpha RGBA for ARGB32 (with
/// the same rounding Cairo uses when it reads the file back), any other format through ARGB32. The
/// rows are unfiltered and deflated at the quickest level: a screenshot is taken while the program
/// runs, often as its last act, so it is made in a few milliseconds rather than made small. The
/// surface is borrowed. Throws std::runtime_error saying the problem (no pixels, out of memory).
std::string encodePng(cairo_surface_t* surface);

} // namespace platform
