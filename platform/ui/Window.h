#pragma once

#include "platform/ui/View.h"

namespace platform {

/// The application's one window: the root of the view tree, 320 x 480 points.
class Window : public View {
public:
    explicit Window(Rect frame) : View(frame) {}

    /// Shows the window; the main loop composes and presents it from then on.
    void makeKeyAndVisible() {
        visible_ = true;
        setNeedsComposite();
    }
    bool isVisible() const { return visible_; }

private:
    bool visible_ = false;
};

} // namespace platform
