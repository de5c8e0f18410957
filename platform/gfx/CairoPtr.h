#pragma once

#include <cairo.h>
#include <memory>
#include <string>

// The one home of Cairo handles: each lives in a unique_ptr whose deleter is Cairo's own destroy
// function, so no other file calls *_destroy by hand.

namespace platform {

struct CairoDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
    void operator()(cairo_pattern_t* pattern) const { cairo_pattern_destroy(pattern); }
    void operator()(cairo_path_t* path) const { cairo_path_destroy(path); }
    void operator()(cairo_rectangle_list_t* list) const { cairo_rectangle_list_destroy(list); }
};

using CairoContextPtr = std::unique_ptr<cairo_t, CairoDeleter>;
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoDeleter>;
using CairoPatternPtr = std::unique_ptr<cairo_pattern_t, CairoDeleter>;
using CairoPathPtr = std::unique_ptr<cairo_path_t, CairoDeleter>;
using CairoRectangleListPtr = std::unique_ptr<cairo_rectangle_list_t, CairoDeleter>;

/// Creates an image surface of the given size in device pixels, cleared to transparent (ARGB32)
/// or black (RGB24). Throws std::runtime_error with Cairo's message if it cannot be made.
CairoSurfacePtr makeImageSurface(int widthPixels, int heightPixels,
                                 cairo_format_t format = CAIRO_FORMAT_ARGB32);

/// A copy of an image surface's pixels, in the same format, with Cairo's own stride (a window's
/// pixels may be laid out wider). The surface is borrowed. The copy goes into `reuse` when that is
/// an image surface of the same size and format nobody else holds: a large new surface costs
/// more in fresh pages than the copy itself. Throws as makeImageSurface does.
CairoSurfacePtr copyImageSurface(cairo_surface_t* surface, CairoSurfacePtr reuse = nullptr);

/// Creates a drawing context on a surface; the surface stays owned by the caller.
CairoContextPtr makeContext(cairo_surface_t* surface);

/// Throws std::runtime_error naming `what` if `status` is an error.
void checkCairo(cairo_status_t status, const std::string& what);

/// Saves the context's state for the lifetime of the guard.
class CairoSaveGuard {
public:
    explicit CairoSaveGuard(cairo_t* cr) : cr_(cr) { cairo_save(cr_); }
    ~CairoSaveGuard() { cairo_restore(cr_); }
    CairoSaveGuard(const CairoSaveGuard&) = delete;
    CairoSaveGuard& operator=(const CairoSaveGuard&) = delete;

private:
    cairo_t* cr_;
};

} // namespace platform
