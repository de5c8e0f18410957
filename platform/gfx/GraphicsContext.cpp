#include "platform/gfx/GraphicsContext.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

float clampCoordinate(float value) {
    return std::clamp(value, -GraphicsContext::kMaxCoordinate, GraphicsContext::kMaxCoordinate);
}

} // namespace

void GraphicsContext::setRGBStrokeColor(double red, double green, double blue, double alpha) {
    color_ = Color{red, green, blue, alpha};
}

void GraphicsContext::setLineJoin(LineJoin join) {
    join_ = join;
}

void GraphicsContext::setLineCap(LineCap cap) {
    cap_ = cap;
}

void GraphicsContext::setLineWidth(float width) {
    if (std::isfinite(width) && width >= 0.0f) {
        width_ = width;
    }
}

void GraphicsContext::beginPath() {
    points_.clear();
    subpathStarts_.clear();
    hasCurrentPoint_ = false;
}

void GraphicsContext::moveToPoint(float x, float y) {
    if (std::isnan(x) || std::isnan(y)) {
        hasCurrentPoint_ = false;
        return;
    }
    subpathStarts_.push_back(points_.size());
    points_.push_back(Point{clampCoordinate(x), clampCoordinate(y)});
    hasCurrentPoint_ = true;
}

void GraphicsContext::addLineToPoint(float x, float y) {
    if (std::isnan(x) || std::isnan(y)) {
        hasCurrentPoint_ = false;
        return;
    }
    if (!hasCurrentPoint_) {
        moveToPoint(x, y);
        return;
    }
    points_.push_back(Point{clampCoordinate(x), clampCoordinate(y)});
}

void GraphicsContext::strokePath() {
    if (!points_.empty()) {
        renderer_.stroke(Stroke{points_, subpathStarts_, color_, width_, join_, cap_});
    }
    beginPath();
}

void GraphicsContext::reset() {
    color_ = Color{0.0, 0.0, 0.0, 1.0};
    width_ = 1.0f;
    join_ = LineJoin::Miter;
    cap_ = LineCap::Butt;
    beginPath();
}

} // namespace platform
