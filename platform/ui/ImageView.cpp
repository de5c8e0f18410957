#include "platform/ui/ImageView.h"

namespace platform {

void ImageView::setImage(std::shared_ptr<const Image> image) {
    image_ = std::move(image);
    setNeedsDisplay();
}

void ImageView::drawRect(GraphicsContext& context, const Rect&) {
    if (!image_ || image_->widthPixels() <= 0 || image_->heightPixels() <= 0) {
        return;
    }
    cairo_t* cr = context.cairo();
    const Rect area = bounds();
    CairoSaveGuard guard(cr);
    cairo_rectangle(cr, 0.0, 0.0, area.size.width, area.size.height);
    cairo_clip(cr);
    cairo_scale(cr, area.size.width / image_->widthPixels(), area.size.height / image_->heightPixels());
    cairo_set_source_surface(cr, image_->surface(), 0.0, 0.0);
    // Scaling to fill must not smear transparent pixels in at the edges.
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
}

} // namespace platform
