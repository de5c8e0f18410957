#include "platform/ui/Compositor.h"

#include "platform/ui/Animation.h"
#include "platform/ui/View.h"

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

namespace platform {

namespace {

int pixels(float points, int scale) { return static_cast<int>(std::ceil(points * static_cast<float>(scale))); }

// A cached picture that is only moved, not turned or scaled, is placed at whole device pixels: half
// a pixel of position cannot be seen, while resampling the whole picture at a fractional offset
// costs more than everything else in a frame (the paper moves by fractions of a pixel per sample).
void snapToDevicePixels(cairo_t* cr) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    if (m.xx == 1.0 && m.yy == 1.0 && m.xy == 0.0 && m.yx == 0.0) {
        m.x0 = std::round(m.x0);
        m.y0 = std::round(m.y0);
        cairo_set_matrix(cr, &m);
    }
}

} // namespace

Compositor::Compositor(Size pointSize, int scale) : pointSize_(pointSize), scale_(scale) {
    if (scale < 1 || scale > 3) {
        throw std::invalid_argument("pixel scale must be 1, 2 or 3, not " + std::to_string(scale));
    }
    surface_ = makeImageSurface(pixels(pointSize.width, scale), pixels(pointSize.height, scale));
}

void Compositor::render(View& root, const Animator* animator) {
    root.displayIfNeeded(scale_);
    CairoContextPtr cr = makeContext(surface_.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
    cairo_scale(cr.get(), scale_, scale_);
    composite(root, cr.get(), scale_, animator);
    cr.reset();
    cairo_surface_flush(surface_.get());
    root.clearChanges();
}

void Compositor::composite(View& view, cairo_t* cr, int scale, const Animator* animator) {
    if (view.isHidden() || !view.layer().hasFiniteTransform()) {
        return;
    }
    const Rect bounds = view.bounds();
    CairoSaveGuard guard(cr);
    const cairo_matrix_t toParent = view.layer().matrixToParent(bounds.size);
    cairo_transform(cr, &toParent);
    if (const PageTransition* transition = animator != nullptr ? animator->transitionFor(view) : nullptr) {
        // The new page is the view as it is now, composed afresh at the transition's scale.
        cairo_surface_t* newPage = transition->newPageCanvas();
        {
            CairoContextPtr pageContext = makeContext(newPage);
            cairo_scale(pageContext.get(), transition->scale(), transition->scale());
            composeContents(view, pageContext.get(), transition->scale(), animator);
        }
        cairo_surface_flush(newPage);
        transition->drawFrame(cr, newPage, transition->progressAt(animator->clock().now()));
        return;
    }
    if (view.clipsToBounds()) {
        cairo_rectangle(cr, 0.0, 0.0, bounds.size.width, bounds.size.height);
        cairo_clip(cr);
    }
    composeContents(view, cr, scale, animator);
}

void Compositor::composeContents(View& view, cairo_t* cr, int scale, const Animator* animator) {
    const Rect bounds = view.bounds();
    if (const auto& background = view.backgroundColor()) {
        cairo_set_source_rgba(cr, background->red, background->green, background->blue, background->alpha);
        cairo_rectangle(cr, 0.0, 0.0, bounds.size.width, bounds.size.height);
        cairo_fill(cr);
    }
    if (const std::optional<View::Coverage> coverage = view.contentsCoverage()) {
        if (coverage->ink.width > 0) {
            CairoSaveGuard contentsGuard(cr);
            cairo_scale(cr, 1.0 / scale, 1.0 / scale);
            snapToDevicePixels(cr);
            cairo_rectangle(cr, coverage->ink.x, coverage->ink.y, coverage->ink.width, coverage->ink.height);
            cairo_clip(cr);
            cairo_set_source_rgba(cr, coverage->color.red, coverage->color.green, coverage->color.blue,
                                  coverage->color.alpha);
            cairo_mask_surface(cr, coverage->mask, 0.0, 0.0);
        }
    } else if (cairo_surface_t* contents = view.contents()) {
        CairoSaveGuard contentsGuard(cr);
        cairo_scale(cr, 1.0 / scale, 1.0 / scale);
        snapToDevicePixels(cr);
        cairo_set_source_surface(cr, contents, 0.0, 0.0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
        // Only the inked part of the picture is blended; the rest is known to be clear.
        const cairo_rectangle_int_t& ink = view.contentsInk();
        if (ink.x == 0 && ink.y == 0 && ink.width == cairo_image_surface_get_width(contents) &&
            ink.height == cairo_image_surface_get_height(contents)) {
            cairo_paint(cr);
        } else {
            cairo_rectangle(cr, ink.x, ink.y, ink.width, ink.height);
            cairo_fill(cr);
        }
    }
    for (const std::shared_ptr<View>& child : view.subviews()) {
        composite(*child, cr, scale, animator);
    }
}

void Compositor::writePng(const std::filesystem::path& path) const { writeSurfacePng(surface_.get(), path); }

void writeSurfacePng(cairo_surface_t* surface, const std::filesystem::path& path) {
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        const char* reason =
            status == CAIRO_STATUS_WRITE_ERROR ? "cannot write the file" : cairo_status_to_string(status);
        throw std::runtime_error("cannot save " + path.string() + ": " + reason);
    }
}

} // namespace platform
