#include "platform/gfx/GraphicsContext.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

cairo_line_join_t toCairo(LineJoin join) {
    switch (join) {
    case LineJoin::Round:
        return CAIRO_LINE_JOIN_ROUND;
    case LineJoin::Bevel:
        return CAIRO_LINE_JOIN_BEVEL;
    case LineJoin::Miter:
        break;
    }
    return CAIRO_LINE_JOIN_MITER;
}

cairo_line_cap_t toCairo(LineCap cap) {
    switch (cap) {
    case LineCap::Round:
        return CAIRO_LINE_CAP_ROUND;
    case LineCap::Square:
        return CAIRO_LINE_CAP_SQUARE;
    case LineCap::Butt:
        break;
    }
    return CAIRO_LINE_CAP_BUTT;
}

bool isDrawable(float x, float y) { return !std::isnan(x) && !std::isnan(y); }

double clampCoordinate(float value) {
    return std::clamp(value, -GraphicsContext::kMaxCoordinate, GraphicsContext::kMaxCoordinate);
}

} // namespace

void GraphicsContext::setRGBStrokeColor(double red, double green, double blue, double alpha) {
    strokeColor_ = Color{red, green, blue, alpha};
}

void GraphicsContext::setLineJoin(LineJoin join) { cairo_set_line_join(cr_, toCairo(join)); }

void GraphicsContext::setLineCap(LineCap cap) { cairo_set_line_cap(cr_, toCairo(cap)); }

void GraphicsContext::setLineWidth(float width) {
    if (std::isfinite(width) && width >= 0.0f) {
        cairo_set_line_width(cr_, width);
    }
}

void GraphicsContext::beginPath() {
    cairo_new_path(cr_);
    hasCurrentPoint_ = false;
}

void GraphicsContext::moveToPoint(float x, float y) {
    if (!isDrawable(x, y)) {
        hasCurrentPoint_ = false;
        return;
    }
    cairo_move_to(cr_, clampCoordinate(x), clampCoordinate(y));
    hasCurrentPoint_ = true;
}

void GraphicsContext::addLineToPoint(float x, float y) {
    if (!isDrawable(x, y)) {
        hasCurrentPoint_ = false;
        return;
    }
    if (!hasCurrentPoint_) {
        moveToPoint(x, y);
        return;
    }
    cairo_line_to(cr_, clampCoordinate(x), clampCoordinate(y));
}

void GraphicsContext::strokePath() {
    cairo_set_source_rgba(cr_, strokeColor_.red, strokeColor_.green, strokeColor_.blue, strokeColor_.alpha);
    cairo_stroke(cr_);
    hasCurrentPoint_ = false;
}

} // namespace platform
