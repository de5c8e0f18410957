#pragma once

#include "platform/gfx/Geometry.h"

#include <cairo.h>
#include <functional>
#include <string_view>

namespace platform {

/// The compositing state of one view: where its anchor point sits in the parent and a transform
/// applied about that anchor. Mapping a point p of the view's bounds (size w x h) into the parent:
///
///     parent = position + translation + R(rotationZ) * (p - (anchorPoint.x * w, anchorPoint.y * h))
///
/// R turns from +x towards +y; with y growing downwards a negative angle turns a point below the
/// anchor towards larger x.
class Layer {
public:
    /// Called after every change, so the owner can ask for a new frame.
    explicit Layer(std::function<void()> onChange) : onChange_(std::move(onChange)) {}

    /// Anchor in unit coordinates of the bounds; (0.5, 0.5) is the centre. Moving the anchor keeps
    /// the position, so the view moves.
    Point anchorPoint() const { return anchorPoint_; }
    void setAnchorPoint(Point anchorPoint);

    /// Where the anchor lies in the parent's coordinates, in points.
    Point position() const { return position_; }
    void setPosition(Point position);

    float rotationZ() const { return rotationZ_; }
    Point translation() const { return translation_; }

    /// Sets one component of the transform by key path, leaving the others as they are:
    /// "transform.rotation.z" (radians), "transform.translation.x" or "transform.translation.y"
    /// (points). Returns false, changing nothing, for any other key path.
    /// Inline so that a key path written out at the call folds to a plain store: a page moves two
    /// layers for every sample.
    bool setValueForKeyPath(float value, std::string_view keyPath) {
        if (keyPath == "transform.rotation.z") {
            rotationZ_ = value;
        } else if (keyPath == "transform.translation.y") {
            translation_.y = value;
        } else if (keyPath == "transform.translation.x") {
            translation_.x = value;
        } else {
            return false;
        }
        onChange_();
        return true;
    }

    /// True when the transform can be drawn: every component finite.
    bool hasFiniteTransform() const;

    /// The layer's transform from its view's bounds (size in points) into its parent.
    cairo_matrix_t matrixToParent(Size boundsSize) const;

private:
    std::function<void()> onChange_;
    Point anchorPoint_{0.5f, 0.5f};
    Point position_{};
    float rotationZ_ = 0.0f;
    Point translation_{};
};

} // namespace platform
