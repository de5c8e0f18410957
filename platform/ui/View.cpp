#include "platform/ui/View.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdint>

namespace platform {

namespace {

// Generations are shared by all views, so a view made where another was never looks drawn already.
std::atomic<std::uint64_t> nextDisplayGeneration{1};

} // namespace

View::View(Rect frame) : layer_([this] { setNeedsComposite(); }) {
    setFrame(frame);
    setNeedsDisplay();
}

View::~View() {
    for (const std::shared_ptr<View>& child : subviews_) {
        child->superview_ = nullptr;
    }
}

Rect View::frame() const {
    const Point anchor = layer_.anchorPoint();
    const Point position = layer_.position();
    return Rect(position.x - anchor.x * size_.width, position.y - anchor.y * size_.height, size_.width,
                size_.height);
}

void View::setFrame(Rect frame) {
    const bool resized = frame.size != size_;
    size_ = frame.size;
    const Point anchor = layer_.anchorPoint();
    layer_.setPosition(
        Point{frame.origin.x + anchor.x * frame.size.width, frame.origin.y + anchor.y * frame.size.height});
    if (resized) {
        setNeedsDisplay();
    }
}

void View::addSubview(const std::shared_ptr<View>& view) {
    assert(view && view.get() != this);
    // Hold the view while it moves, in case its old parent had the only reference.
    const std::shared_ptr<View> keep = view;
    keep->removeFromSuperview();
    keep->superview_ = this;
    subviews_.push_back(keep);
    setNeedsComposite();
}

void View::removeFromSuperview() {
    View* parent = superview_;
    if (parent == nullptr) {
        return;
    }
    superview_ = nullptr;
    auto& siblings = parent->subviews_;
    const auto it = std::find_if(siblings.begin(), siblings.end(),
                                 [this](const std::shared_ptr<View>& v) { return v.get() == this; });
    assert(it != siblings.end());
    parent->setNeedsComposite();
    // Erasing may drop the last reference to this view: touch nothing of it afterwards.
    siblings.erase(it);
}

void View::setClipsToBounds(bool clips) {
    clipsToBounds_ = clips;
    setNeedsComposite();
}

void View::setBackgroundColor(std::optional<Color> color) {
    backgroundColor_ = color;
    setNeedsComposite();
}

void View::setHidden(bool hidden) {
    hidden_ = hidden;
    setNeedsComposite();
}

void View::setNeedsDisplay() {
    displayGeneration_ = nextDisplayGeneration.fetch_add(1, std::memory_order_relaxed);
    setNeedsComposite();
}

void View::setNeedsComposite() {
    changedItself_ = true;
    // A marked view's ancestors are all marked already (marks are cleared from the root down), so
    // the walk stops at the first one: a sample that moves three layers costs three flag checks.
    for (View* v = this; v != nullptr && !v->changed_; v = v->superview_) {
        v->changed_ = true;
    }
}

void View::clearChanges() {
    if (!changed_) {
        return;
    }
    changed_ = false;
    changedItself_ = false;
    ++changesCleared_;
    for (const std::shared_ptr<View>& child : subviews_) {
        child->clearChanges();
    }
}

void View::drawRect(GraphicsContext&, const Rect&) {}

void View::prefetchContents(int scale) {
    for (const std::shared_ptr<View>& child : subviews_) {
        child->prefetchContents(scale);
    }
}

CairoSurfacePtr View::takeFinishedContents(int, int, int) {
    return nullptr;
}

View* View::hitTest(Point pointInSelf) {
    if (hidden_ || !userInteractionEnabled_ || !bounds().contains(pointInSelf)) {
        return nullptr;
    }
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        View& child = **it;
        // A view that cannot be drawn (non-finite transform) cannot be touched either.
        if (!child.layer_.hasFiniteTransform()) {
            continue;
        }
        cairo_matrix_t toChild = child.layer_.matrixToParent(child.size_);
        if (cairo_matrix_invert(&toChild) != CAIRO_STATUS_SUCCESS) {
            continue;
        }
        double x = pointInSelf.x;
        double y = pointInSelf.y;
        cairo_matrix_transform_point(&toChild, &x, &y);
        if (View* hit = child.hitTest(Point{static_cast<float>(x), static_cast<float>(y)})) {
            return hit;
        }
    }
    return this;
}

void View::touchesBegan(Point) {}

void View::touchesMoved(Point, bool) {}

void View::touchesEnded(Point, bool) {}

void View::touchesCancelled() {}

} // namespace platform
