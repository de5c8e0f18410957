#pragma once

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Geometry.h"

#include <filesystem>
#include <memory>
#include <string_view>

namespace platform {

/// A decoded picture in device pixels. Image views scale it to fill their bounds, so resources are
/// drawn large (three times their point size) and stay crisp at every pixel scale.
class Image {
public:
    /// Loads a resource by file name from the resources folder. A missing or unreadable file gives
    /// nullptr and one line on standard error naming the file and the problem; the caller goes on
    /// without the image.
    static std::shared_ptr<const Image> named(std::string_view name);

    /// Loads a PNG file; throws std::runtime_error naming the file if it cannot be read.
    static std::shared_ptr<const Image> fromPngFile(const std::filesystem::path& path);

    explicit Image(CairoSurfacePtr surface);

    cairo_surface_t* surface() const { return surface_.get(); }
    int widthPixels() const;
    int heightPixels() const;
    /// True when every pixel is fully opaque (known once, at load).
    bool isOpaque() const { return opaque_; }

private:
    CairoSurfacePtr surface_;
    bool opaque_ = false;
};

} // namespace platform
