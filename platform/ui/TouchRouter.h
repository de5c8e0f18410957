#pragma once

#include "platform/gfx/Geometry.h"

#include <memory>

namespace platform {

class View;

/// Maps `point` from the coordinates of `from` into those of `to`, through the layers of both
/// views up to their common root. `to == nullptr` means the root's own coordinates. Both views
/// must be in the same tree. A point that cannot be mapped (a non-finite transform on the way)
/// comes back as NaN, which no rectangle contains.
Point convertPoint(Point point, const View& from, const View* to);

/// Turns presses and releases at points of the root view into touches of the view that takes
/// them. A mouse, a finger and a scripted click all come through here, so they behave alike.
///
/// A press goes to the deepest view under the point that accepts touches (hitTest, then up the
/// superviews); that view gets the move and the release too, wherever they happen, with the point
/// in its own coordinates and whether it is inside its bounds.
class TouchRouter {
public:
    /// Routes touches into the tree under `root`, which is borrowed and must outlive the router.
    explicit TouchRouter(View& root) : root_(root) {}
    TouchRouter(const TouchRouter&) = delete;
    TouchRouter& operator=(const TouchRouter&) = delete;

    /// A press at `inRoot` (root points). A touch still in progress is cancelled first.
    void press(Point inRoot);
    /// The pressed finger or pointer moved to `inRoot`.
    void move(Point inRoot);
    /// The release at `inRoot` that ends the current touch; nothing happens without one.
    void release(Point inRoot);
    /// A press and a release at the same point.
    void click(Point inRoot);
    /// Ends the current touch without a release, e.g. when the window loses the pointer.
    void cancel();

    /// True between a press that found a view and its release or cancel.
    bool isTracking() const { return trackingRoot_ || !tracked_.expired(); }

private:
    // The touched view, or nullptr when it has gone or has left the root's tree meanwhile.
    View* trackedView() const;
    void forget();

    View& root_;
    // Weak, so a view dropped from the tree while a finger is down is simply forgotten. The root
    // has no parent to hold a shared_ptr to it, so it is marked by the flag instead.
    std::weak_ptr<View> tracked_;
    bool trackingRoot_ = false;
};

} // namespace platform
