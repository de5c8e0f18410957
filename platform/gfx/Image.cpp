#include "platform/gfx/Image.h"

#include "platform/gfx/Resources.h"

#include <cstdio>
#include <stdexcept>

namespace platform {

std::shared_ptr<const Image> Image::fromPngFile(const std::filesystem::path& path) {
    CairoSurfacePtr surface(cairo_image_surface_create_from_png(path.c_str()));
    const cairo_status_t status = cairo_surface_status(surface.get());
    if (status != CAIRO_STATUS_SUCCESS) {
        const char* reason = status == CAIRO_STATUS_FILE_NOT_FOUND ? "file not found"
                             : status == CAIRO_STATUS_READ_ERROR   ? "not a readable PNG file"
                                                                   : cairo_status_to_string(status);
        throw std::runtime_error("cannot load image " + path.string() + ": " + reason);
    }
    return std::make_shared<const Image>(std::move(surface));
}

std::shared_ptr<const Image> Image::named(std::string_view name) {
    try {
        return fromPngFile(resourcePath(name));
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return nullptr;
    }
}

int Image::widthPixels() const { return cairo_image_surface_get_width(surface_.get()); }

int Image::heightPixels() const { return cairo_image_surface_get_height(surface_.get()); }

} // namespace platform
