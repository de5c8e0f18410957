#include "platform/gfx/GraphicsContext.h"

#include "platform/gfx/CairoPtr.h"

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

// Below a pixel's width the distance rule gives thin lines a different weight than Cairo's area
// rule; those few go through Cairo.
constexpr double kMinDirectRadius = 0.5;
// The mask's fixed-point ramps count pixels along a row in 16.16.
constexpr int kMaxDirectWidth = 16384;

bool isDrawable(float x, float y) { return !std::isnan(x) && !std::isnan(y); }

double clampCoordinate(float value) {
    return std::clamp(value, -GraphicsContext::kMaxCoordinate, GraphicsContext::kMaxCoordinate);
}

} // namespace

void GraphicsContext::setRGBStrokeColor(double red, double green, double blue, double alpha) {
    strokeColor_ = Color{red, green, blue, alpha};
}

void GraphicsContext::setLineJoin(LineJoin join) {
    join_ = join;
    cairo_set_line_join(cr_, toCairo(join));
}

void GraphicsContext::setLineCap(LineCap cap) {
    cap_ = cap;
    cairo_set_line_cap(cr_, toCairo(cap));
}

void GraphicsContext::setLineWidth(float width) {
    if (std::isfinite(width) && width >= 0.0f) {
        lineWidth_ = width;
        cairo_set_line_width(cr_, width);
    }
}

void GraphicsContext::beginPath() {
    cairo_new_path(cr_);
    hasCurrentPoint_ = false;
    pathTouched_ = false;
    if (cache_ != nullptr) {
        cache_->path.clear();
        cache_->subpathStarts.clear();
    }
}

void GraphicsContext::moveToPoint(float x, float y) {
    if (!isDrawable(x, y)) {
        hasCurrentPoint_ = false;
        return;
    }
    cairo_move_to(cr_, clampCoordinate(x), clampCoordinate(y));
    hasCurrentPoint_ = true;
    if (cache_ != nullptr) {
        cache_->subpathStarts.push_back(cache_->path.size());
        cache_->path.push_back(DevicePoint{clampCoordinate(x), clampCoordinate(y)});
    }
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
    if (cache_ != nullptr) {
        cache_->path.push_back(DevicePoint{clampCoordinate(x), clampCoordinate(y)});
    }
}

void GraphicsContext::strokePath() {
    if (strokeDirectly()) {
        beginPath();
        return;
    }
    flush();
    drewOtherwise_ = true;
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
            includeInk(corner[0] - 1.0, corner[1] - 1.0, corner[0] + 1.0, corner[1] + 1.0);
        }
    }
    cairo_set_source_rgba(cr_, strokeColor_.red, strokeColor_.green, strokeColor_.blue, strokeColor_.alpha);
    cairo_stroke(cr_);
    beginPath();
}

void GraphicsContext::includeInk(double x1, double y1, double x2, double y2) {
    if (!inked_) {
        inkX1_ = x1;
        inkY1_ = y1;
        inkX2_ = x2;
        inkY2_ = y2;
        inked_ = true;
        return;
    }
    inkX1_ = std::min(inkX1_, x1);
    inkY1_ = std::min(inkY1_, y1);
    inkX2_ = std::max(inkX2_, x2);
    inkY2_ = std::max(inkY2_, y2);
}

bool GraphicsContext::strokeDirectly() {
    if (cache_ == nullptr || pathTouched_ || join_ != LineJoin::Round || cap_ != LineCap::Round ||
        cairo_get_operator(cr_) != CAIRO_OPERATOR_OVER) {
        return false;
    }
    // Only a plain scale and shift keeps a round pen round in device space.
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    const double radius = lineWidth_ * m.xx / 2.0;
    if (m.xy != 0.0 || m.yx != 0.0 || m.xx != m.yy || !(radius >= kMinDirectRadius)) {
        return false;
    }
    cairo_surface_t* target = cairo_get_target(cr_);
    double offsetX = 0.0;
    double offsetY = 0.0;
    cairo_surface_get_device_offset(target, &offsetX, &offsetY);
    if (target != cairo_get_group_target(cr_) || cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE ||
        offsetX != 0.0 || offsetY != 0.0) {
        return false;
    }
    const int width = cairo_image_surface_get_width(target);
    const int height = cairo_image_surface_get_height(target);
    if (width <= 0 || height <= 0 || width > kMaxDirectWidth) {
        return false;
    }

    flush();
    PolylineMask& mask = cache_->mask;
    mask.reset(width, height);
    std::vector<DevicePoint>& path = cache_->path;
    for (DevicePoint& p : path) {
        p = DevicePoint{m.xx * p.x + m.x0, m.yy * p.y + m.y0};
    }
    const std::vector<std::size_t>& starts = cache_->subpathStarts;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : path.size();
        // A lone move draws nothing, as in any stroked path; a line of no length is a dot.
        if (end - starts[i] >= 2) {
            mask.addPolyline(std::span<const DevicePoint>(path).subspan(starts[i], end - starts[i]), radius);
        }
    }
    const cairo_rectangle_int_t box = mask.inkBox();
    if (box.width > 0) {
        includeInk(box.x, box.y, box.x + box.width, box.y + box.height);
        pending_ = true;
        pendingColor_ = strokeColor_;
    }
    return true;
}

void GraphicsContext::flush() {
    if (!pending_) {
        return;
    }
    pending_ = false;
    drewOtherwise_ = true;
    const cairo_rectangle_int_t box = cache_->mask.inkBox();
    // Clipping to the inked box needs the context's path, which may hold a path being built.
    const CairoPathPtr building(cairo_copy_path(cr_));
    cairo_new_path(cr_);
    {
        CairoSaveGuard guard(cr_);
        cairo_identity_matrix(cr_);
        cairo_rectangle(cr_, box.x, box.y, box.width, box.height);
        cairo_clip(cr_);
        cairo_set_source_rgba(cr_, pendingColor_.red, pendingColor_.green, pendingColor_.blue, pendingColor_.alpha);
        cairo_mask_surface(cr_, cache_->mask.surface(), 0.0, 0.0);
    }
    if (building->status == CAIRO_STATUS_SUCCESS && building->num_data > 0) {
        cairo_append_path(cr_, building.get());
    }
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
