#include "platform/gfx/Image.h"

#include "platform/gfx/Resources.h"

#include <cstddef>
#include <cstdint>
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

namespace {

bool everyPixelOpaque(cairo_surface_t* surface) {
    if (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24) {
        return true;
    }
    if (cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
        return false;
    }
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            if ((row[x] >> 24) != 0xffu) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

Image::Image(CairoSurfacePtr surface) : surface_(std::move(surface)), opaque_(everyPixelOpaque(surface_.get())) {}

int Image::widthPixels() const { return cairo_image_surface_get_width(surface_.get()); }

int Image::heightPixels() const { return cairo_image_surface_get_height(surface_.get()); }

} // namespace platform
