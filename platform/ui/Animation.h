#pragma once

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Geometry.h"
#include "platform/services/Clock.h"
#include "platform/ui/PageCurl.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class View;

/// How a view's change of pages is shown, with the handheld numbering.
enum class AnimationTransition { None = 0, FlipFromLeft = 1, FlipFromRight = 2, CurlUp = 3, CurlDown = 4 };

/// Told when a committed animation block has finished.
class AnimationDelegate {
public:
    virtual ~AnimationDelegate() = default;
    virtual void animationDidStop(const std::string& animationID) = 0;
};

/// The selector an animation block calls on its delegate when it stops.
using AnimationDidStopSelector = void (AnimationDelegate::*)(const std::string& animationID);

/// A page transition in flight on one view: the picture of the view taken when the transition was
/// set (the old page) and the time it runs. The new page is the view as it is now, composed afresh
/// every frame, so anything that moves on it keeps moving while the page turns; only the washed-out
/// back a curl shows of a page is pictured once, at the start.
class PageTransition {
public:
    /// `oldPage` is the view's picture in device pixels at `scale`; the transition owns it. The
    /// view is not owned and must outlive the transition.
    PageTransition(AnimationTransition transition, View& view, CairoSurfacePtr oldPage, int scale);

    AnimationTransition transition() const { return transition_; }
    View& view() const { return *view_; }
    /// The old page, owned by the transition.
    cairo_surface_t* oldPage() const { return oldPage_.get(); }
    int scale() const { return scale_; }
    /// Size of the turning page in points: the view's bounds when the transition was set.
    Size pageSize() const { return pageSize_; }

    double startTime() const { return startTime_; }
    double duration() const { return duration_; }
    /// Sets when the transition runs, in seconds on the animator's clock. `newPage` is the view's
    /// picture at the start, like the old page; a curl down shows its back, so needs it (only read).
    void start(double startTime, double duration, cairo_surface_t* newPage);
    /// True for transitions whose start() needs the new page's picture.
    bool needsNewPageAtStart() const { return transition_ == AnimationTransition::CurlDown; }
    /// Linear progress at `now`: 0 until the start, 1 from the end on.
    double progressAt(double now) const;

    /// A cleared surface the size of the old page for the new page to be composed into. Owned by
    /// the transition and reused from frame to frame; valid until the next call.
    cairo_surface_t* newPageCanvas() const;

    /// Draws the frame at `progress` into `cr`, whose user space is the view's own points (origin
    /// at its top-left). `newPage` is the view's current picture in device pixels at scale().
    void drawFrame(cairo_t* cr, cairo_surface_t* newPage, double progress) const;

private:
    AnimationTransition transition_;
    View* view_;
    CairoSurfacePtr oldPage_;
    int scale_;
    Size pageSize_;
    double startTime_ = 0.0;
    double duration_ = 0.0;
    // What a curl draws of the page that curls, made once at the start.
    std::optional<CurlArtwork> artwork_;
    // A frame-to-frame cache, not state: it only saves allocating a page-sized surface per frame.
    mutable CairoSurfacePtr newPageCanvas_;
};

/// Runs animation blocks the way the handheld's class-level calls do, on a clock the host pushes.
/// A block is opened with beginAnimations, set up, and started with commitAnimations; changes the
/// caller makes to the view tree inside the block take effect at once, and a page transition only
/// changes how they are shown until the block's time is up. The application owns the animator;
/// the main loop calls advance() every frame and passes the animator to the compositor.
class Animator {
public:
    /// Duration of a block whose duration was not set, in seconds.
    static constexpr double kDefaultDuration = 0.2;

    /// `clock` is not owned and must outlive the animator; `scale` (1 to 3) is the window's pixel
    /// scale, at which old pages are pictured.
    Animator(const Clock& clock, int scale);
    Animator(const Animator&) = delete;
    Animator& operator=(const Animator&) = delete;

    /// Opens a block named `animationID`. Blocks do not nest.
    void beginAnimations(std::string animationID);
    /// Seconds the block runs from its commit; negative or non-finite values count as 0.
    void setAnimationDuration(double seconds);
    /// The delegate told when the block stops; not owned, must outlive the block (or be reset).
    void setAnimationDelegate(AnimationDelegate* delegate);
    /// The method called on the delegate when the block stops, once; nullptr calls nothing.
    void setAnimationDidStopSelector(AnimationDidStopSelector selector);
    /// Pictures `view` and its subtree as they look now (the old page); from the commit on, the view
    /// is shown turning from that picture to its live look. `cache` is accepted for the familiar
    /// call shape only: the new page is always drawn live, so a running recorder keeps running
    /// under the turning page. A later call in the same block replaces this one.
    void setAnimationTransition(AnimationTransition transition, View& view, bool cache);
    /// Closes the block and starts it now.
    void commitAnimations();

    /// True while a committed block has not stopped.
    bool isAnimating() const;
    /// Reads the clock, asks for a new frame of every view that is turning and stops the blocks
    /// whose time is up: each is removed first, then its delegate is told, exactly once, so the
    /// delegate may open a new block from the call.
    void advance();
    /// When the main loop should next call advance() and draw: now while a page turns, the end of
    /// the earliest block otherwise, nothing when no block runs. Seconds on the clock.
    std::optional<double> nextFrameTime() const;

    /// The transition showing `view`, or nullptr. The latest committed one wins if there are two.
    const PageTransition* transitionFor(const View& view) const;

    const Clock& clock() const { return clock_; }
    int scale() const { return scale_; }

private:
    /// Pictures `view` as it is on the screen now, within its bounds, at the animator's scale.
    CairoSurfacePtr picture(View& view) const;

    struct Block {
        std::string animationID;
        double duration = kDefaultDuration;
        AnimationDelegate* delegate = nullptr;
        AnimationDidStopSelector didStopSelector = nullptr;
        std::unique_ptr<PageTransition> transition;
        double startTime = 0.0;
        double endTime() const { return startTime + duration; }
    };

    const Clock& clock_;
    int scale_;
    std::optional<Block> open_;
    std::vector<Block> running_;
};

} // namespace platform
