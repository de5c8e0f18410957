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
    // The path's box grown by half the line width (round joins and caps reach no further) and a
    // pixel of antialiasing, in device pixels.
    double x1 = 0.0;
    double y1 = 0.0;
    double x2 = 0.0;
    double y2 = 0.0;
    cairo_path_extents(cr_, &x1, &y1, &x2, &y2);
    if (x2 > x1 || y2 > y1 || cairo_has_current_point(cr_)) {
        const double reach = cairo_get_line_width(cr_) / 2.0;
        double corners[4][2] = {{x1 - reach, y1 - reach}, {x2 + reach, y1 - reach}, {x1 - reach, y2 + reach},
                                {x2 + reach, y2 + reach}};
        for (auto& corner : corners) {
            cairo_user_to_device(cr_, &corner[0], &corner[1]);
            if (!inked_) {
                inkX1_ = inkX2_ = corner[0];
                inkY1_ = inkY2_ = corner[1];
                inked_ = true;
            }
            inkX1_ = std::min(inkX1_, corner[0] - 1.0);
            inkY1_ = std::min(inkY1_, corner[1] - 1.0);
            inkX2_ = std::max(inkX2_, corner[0] + 1.0);
            inkY2_ = std::max(inkY2_, corner[1] + 1.0);
        }
    }
    cairo_set_source_rgba(cr_, strokeColor_.red, strokeColor_.green, strokeColor_.blue, strokeColor_.alpha);
    cairo_stroke(cr_);
    hasCurrentPoint_ = false;
}

cairo_rectangle_int_t GraphicsContext::inkExtents(int surfaceWidth, int surfaceHeight) const {
    if (inkedEverywhere_) {
        return cairo_rectangle_int_t{0, 0, surfaceWidth, surfaceHeight};
    }
    if (!inked_) {
        return cairo_rectangle_int_t{0, 0, 0, 0};
    }
    const int x1 = static_cast<int>(std::clamp(std::floor(inkX1_), 0.0, static_cast<double>(surfaceWidth)));
    const int y1 = static_cast<int>(std::clamp(std::floor(inkY1_), 0.0, static_cast<double>(surfaceHeight)));
    const int x2 = static_cast<int>(std::clamp(std::ceil(inkX2_), 0.0, static_cast<double>(surfaceWidth)));
    const int y2 = static_cast<int>(std::clamp(std::ceil(inkY2_), 0.0, static_cast<double>(surfaceHeight)));
    return cairo_rectangle_int_t{x1, y1, std::max(0, x2 - x1), std::max(0, y2 - y1)};
}

} // namespace platform
