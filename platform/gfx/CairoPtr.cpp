#include "platform/gfx/CairoPtr.h"

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

CairoContextPtr makeContext(cairo_surface_t* surface) {
    CairoContextPtr cr(cairo_create(surface));
    checkCairo(cairo_status(cr.get()), "cannot create a drawing context");
    return cr;
}

} // namespace platform
