#pragma once

#include <cairo.h>

#include <filesystem>

namespace platform {

/// Writes an image surface to `path` as a PNG: RGB for RGB24, straight-alpha RGBA for ARGB32 (with
/// the same rounding Cairo uses when it reads the file back), any other format through ARGB32. The
/// rows are unfiltered and deflated at the quickest level: a screenshot is taken while the program
/// runs, often as its last act, so it is written in a few milliseconds rather than made small. The
/// surface is borrowed. Throws std::runtime_error naming the file and the problem.
void writePngFile(cairo_surface_t* surface, const std::filesystem::path& path);

} // namespace platform
