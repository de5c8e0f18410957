#include "platform/ui/TouchRouter.h"

#include "platform/ui/View.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace platform {

namespace {

// The transform from `view`'s points into the points of the root of its tree.
cairo_matrix_t matrixToRoot(const View& view) {
    cairo_matrix_t m;
    cairo_matrix_init_identity(&m);
    for (const View* v = &view; v->superview() != nullptr; v = v->superview()) {
        const cairo_matrix_t toParent = v->layer().matrixToParent(v->bounds().size);
        cairo_matrix_t next;
        // First what was gathered so far (deeper layers), then this layer.
        cairo_matrix_multiply(&next, &m, &toParent);
        m = next;
    }
    return m;
}

const View& rootOf(const View& view) {
    const View* v = &view;
    while (v->superview() != nullptr) {
        v = v->superview();
    }
    return *v;
}

bool hasFiniteTransformsToRoot(const View& view) {
    for (const View* v = &view; v->superview() != nullptr; v = v->superview()) {
        if (!v->layer().hasFiniteTransform()) {
            return false;
        }
    }
    return true;
}

} // namespace

Point convertPoint(Point point, const View& from, const View* to) {
    assert(to == nullptr || &rootOf(from) == &rootOf(*to));
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    if (!hasFiniteTransformsToRoot(from) || (to != nullptr && !hasFiniteTransformsToRoot(*to))) {
        return Point{kNaN, kNaN};
    }
    const cairo_matrix_t fromToRoot = matrixToRoot(from);
    double x = point.x;
    double y = point.y;
    cairo_matrix_transform_point(&fromToRoot, &x, &y);
    if (to != nullptr) {
        cairo_matrix_t rootToTarget = matrixToRoot(*to);
        if (cairo_matrix_invert(&rootToTarget) != CAIRO_STATUS_SUCCESS) {
            return Point{kNaN, kNaN};
        }
        cairo_matrix_transform_point(&rootToTarget, &x, &y);
    }
    return Point{static_cast<float>(x), static_cast<float>(y)};
}

void TouchRouter::press(Point inRoot) {
    cancel();
    View* view = root_.hitTest(inRoot);
    while (view != nullptr && !view->acceptsTouches()) {
        view = view->superview();
    }
    if (view == nullptr) {
        return;
    }
    if (view == &root_) {
        trackingRoot_ = true;
    } else {
        const auto& siblings = view->superview()->subviews();
        const auto it = std::find_if(siblings.begin(), siblings.end(),
                                     [view](const std::shared_ptr<View>& v) { return v.get() == view; });
        assert(it != siblings.end());
        tracked_ = *it;
    }
    view->touchesBegan(convertPoint(inRoot, root_, view));
}

void TouchRouter::move(Point inRoot) {
    if (View* view = trackedView()) {
        const Point point = convertPoint(inRoot, root_, view);
        view->touchesMoved(point, view->bounds().contains(point));
    }
}

void TouchRouter::release(Point inRoot) {
    // Hold the view for the call: its handler may take it out of the tree.
    const std::shared_ptr<View> keep = tracked_.lock();
    View* view = trackedView();
    forget();
    if (view != nullptr) {
        const Point point = convertPoint(inRoot, root_, view);
        view->touchesEnded(point, view->bounds().contains(point));
    } else if (keep) {
        // It left the tree while held: no release on it counts.
        keep->touchesCancelled();
    }
}

void TouchRouter::click(Point inRoot) {
    press(inRoot);
    release(inRoot);
}

void TouchRouter::cancel() {
    const std::shared_ptr<View> keep = tracked_.lock();
    View* view = trackingRoot_ ? &root_ : keep.get();
    forget();
    if (view != nullptr) {
        view->touchesCancelled();
    }
}

View* TouchRouter::trackedView() const {
    if (trackingRoot_) {
        return &root_;
    }
    const std::shared_ptr<View> view = tracked_.lock();
    if (!view || &rootOf(*view) != &root_) {
        return nullptr;
    }
    // Still in the tree, so the tree keeps it alive after `view` goes.
    return view.get();
}

void TouchRouter::forget() {
    tracked_.reset();
    trackingRoot_ = false;
}

} // namespace platform
