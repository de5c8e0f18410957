#include "platform/gfx/CairoPtr.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace platform {

void checkCairo(cairo_status_t status, const std::string& what) {
    if (status != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error(what + ": " + cairo_status_to_string(status));
    }
}

CairoSurfacePtr makeImageSurface(int widthPixels, int heightPixels, cairo_format_t format) {
    CairoSurfacePtr surface(cairo_image_surface_create(format, widthPixels, heightPixels));
    checkCairo(cairo_surface_status(surface.get()), "cannot create a " + std::to_string(widthPixels) + "x" +
                                                        std::to_string(heightPixels) + " image surface");
    return surface;
}

CairoSurfacePtr copyImageSurface(cairo_surface_t* surface, CairoSurfacePtr reuse) {
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    const bool reusable = reuse && cairo_surface_get_reference_count(reuse.get()) == 1 &&
                          cairo_surface_get_type(reuse.get()) == CAIRO_SURFACE_TYPE_IMAGE &&
                          cairo_image_surface_get_width(reuse.get()) == width &&
                          cairo_image_surface_get_height(reuse.get()) == height &&
                          cairo_image_surface_get_format(reuse.get()) == format;
    CairoSurfacePtr copy = reusable ? std::move(reuse) : makeImageSurface(width, height, format);
    cairo_surface_flush(copy.get());
    const auto from = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    const auto to = static_cast<std::size_t>(cairo_image_surface_get_stride(copy.get()));
    const unsigned char* source = cairo_image_surface_get_data(surface);
    unsigned char* target = cairo_image_surface_get_data(copy.get());
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        std::memcpy(target + to * y, source + from * y, std::min(from, to));
    }
    cairo_surface_mark_dirty(copy.get());
    return copy;
}

CairoContextPtr makeContext(cairo_surface_t* surface) {
    CairoContextPtr cr(cairo_create(surface));
    checkCairo(cairo_status(cr.get()), "cannot create a drawing context");
    return cr;
}

} // namespace platform
