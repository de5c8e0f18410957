#include "platform/ui/ImageView.h"

#include <cmath>

namespace platform {

namespace {

constexpr int kLargestPixelScale = 3;

/// The whole pixel scale of a context that only scales (and moves by whole pixels), as views
/// draw into their caches; 0 for any other transform.
int wholePixelScale(const cairo_matrix_t& m) {
    const bool axisAligned = m.xy == 0.0 && m.yx == 0.0 && m.xx == m.yy;
    const bool wholeShift = m.x0 == std::floor(m.x0) && m.y0 == std::floor(m.y0);
    if (!axisAligned || !wholeShift || m.xx != std::floor(m.xx) || m.xx < 1.0 || m.xx > kLargestPixelScale) {
        return 0;
    }
    return static_cast<int>(m.xx);
}

} // namespace

void ImageView::setImage(std::shared_ptr<const Image> image) {
    image_ = std::move(image);
    decoded_.reset();
    setNeedsDisplay();
}

std::pair<int, int> ImageView::pixelSize(int scale) const {
    const Rect area = bounds();
    return {static_cast<int>(std::lround(area.size.width * static_cast<float>(scale))),
            static_cast<int>(std::lround(area.size.height * static_cast<float>(scale)))};
}

void ImageView::prefetchContents(int scale) {
    if (image_) {
        const auto [width, height] = pixelSize(scale);
        image_->prefetch(width, height, scale);
    }
    View::prefetchContents(scale);
}

CairoSurfacePtr ImageView::takeFinishedContents(int scale, int widthPixels, int heightPixels) {
    decoded_.reset();
    if (!image_ || pixelSize(scale) != std::pair{widthPixels, heightPixels}) {
        return nullptr;
    }
    CairoSurfacePtr pixels = image_->pixelsForSize(widthPixels, heightPixels, scale);
    const cairo_format_t cacheFormat = drawsOpaqueContent() ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
    // Only pixels nobody else holds (not an image kept in memory) may become a cache drawn over later.
    if (pixels && cairo_image_surface_get_width(pixels.get()) == widthPixels &&
        cairo_image_surface_get_height(pixels.get()) == heightPixels &&
        cairo_image_surface_get_format(pixels.get()) == cacheFormat &&
        cairo_surface_get_reference_count(pixels.get()) == 1) {
        return pixels;
    }
    decoded_ = std::move(pixels);
    return nullptr;
}

void ImageView::drawRect(GraphicsContext& context, const Rect&) {
    if (!image_ || image_->widthPixels() <= 0 || image_->heightPixels() <= 0) {
        return;
    }
    cairo_t* cr = context.cairo();
    const Rect area = bounds();
    cairo_matrix_t device;
    cairo_get_matrix(cr, &device);
    const int scale = wholePixelScale(device);
    const auto [wantedWidth, wantedHeight] = pixelSize(scale);
    const CairoSurfacePtr pixels =
        decoded_ ? std::move(decoded_) : image_->pixelsForSize(wantedWidth, wantedHeight, scale);
    if (!pixels) {
        return;
    }
    const int width = cairo_image_surface_get_width(pixels.get());
    const int height = cairo_image_surface_get_height(pixels.get());

    CairoSaveGuard guard(cr);
    cairo_rectangle(cr, 0.0, 0.0, area.size.width, area.size.height);
    cairo_clip(cr);
    if (scale != 0 && width == wantedWidth && height == wantedHeight) {
        // One image pixel per device pixel: a plain copy, no filtering.
        cairo_identity_matrix(cr);
        cairo_set_source_surface(cr, pixels.get(), device.x0, device.y0);
    } else {
        cairo_scale(cr, area.size.width / static_cast<float>(width),
                    area.size.height / static_cast<float>(height));
        cairo_set_source_surface(cr, pixels.get(), 0.0, 0.0);
        // Scaling to fill must not smear transparent pixels in at the edges.
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    }
    cairo_paint(cr);
}

} // namespace platform
