#include "platform/ui/Layer.h"

#include <cmath>

namespace platform {

void Layer::setAnchorPoint(Point anchorPoint) {
    anchorPoint_ = anchorPoint;
    onChange_();
}

void Layer::setPosition(Point position) {
    position_ = position;
    onChange_();
}

bool Layer::hasFiniteTransform() const {
    return std::isfinite(rotationZ_) && std::isfinite(translation_.x) && std::isfinite(translation_.y) &&
           std::isfinite(position_.x) && std::isfinite(position_.y) && std::isfinite(anchorPoint_.x) &&
           std::isfinite(anchorPoint_.y);
}

cairo_matrix_t Layer::matrixToParent(Size boundsSize) const {
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, static_cast<double>(position_.x) + translation_.x,
                                static_cast<double>(position_.y) + translation_.y);
    if (rotationZ_ != 0.0f) {
        cairo_matrix_rotate(&m, rotationZ_);
    }
    cairo_matrix_translate(&m, -static_cast<double>(anchorPoint_.x) * boundsSize.width,
                           -static_cast<double>(anchorPoint_.y) * boundsSize.height);
    return m;
}

} // namespace platform
