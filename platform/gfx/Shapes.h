#pragma once

#include "platform/gfx/Geometry.h"

#include <algorithm>
#include <cairo.h>
#include <numbers>

// Small drawing helpers the controls share.

namespace platform {

/// Sets `color` as the source, its alpha multiplied by `alpha`.
inline void setSourceColor(cairo_t* cr, const Color& color, double alpha = 1.0) {
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha * alpha);
}

/// Adds a closed rectangle with corners rounded by `radius` (at most half the shorter side).
inline void addRoundedRectangle(cairo_t* cr, double x, double y, double width, double height, double radius) {
    const double r = std::min({radius, width / 2.0, height / 2.0});
    constexpr double kQuarter = std::numbers::pi / 2.0;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + width - r, y + r, r, -kQuarter, 0.0);
    cairo_arc(cr, x + width - r, y + height - r, r, 0.0, kQuarter);
    cairo_arc(cr, x + r, y + height - r, r, kQuarter, 2.0 * kQuarter);
    cairo_arc(cr, x + r, y + r, r, 2.0 * kQuarter, 3.0 * kQuarter);
    cairo_close_path(cr);
}

} // namespace platform
