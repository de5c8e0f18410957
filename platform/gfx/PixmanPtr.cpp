#include "platform/gfx/PixmanPtr.h"

#include <stdexcept>

namespace platform {

PixmanImagePtr pixmanImageOf(cairo_surface_t* surface) {
    pixman_format_code_t format = PIXMAN_a8r8g8b8;
    switch (cairo_image_surface_get_format(surface)) {
    case CAIRO_FORMAT_ARGB32:
        break;
    case CAIRO_FORMAT_RGB24:
        format = PIXMAN_x8r8g8b8;
        break;
    case CAIRO_FORMAT_A8:
        format = PIXMAN_a8;
        break;
    default:
        throw std::runtime_error("pixman: an image surface of an unsupported format");
    }
    cairo_surface_flush(surface);
    PixmanImagePtr image(pixman_image_create_bits_no_clear(
        format, cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface),
        reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface)),
        cairo_image_surface_get_stride(surface)));
    if (!image) {
        throw std::runtime_error("pixman: cannot wrap an image surface");
    }
    return image;
}

} // namespace platform
