#include "platform/ui/Animation.h"

#include "platform/ui/Compositor.h"
#include "platform/ui/PageCurl.h"
#include "platform/ui/View.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <utility>

namespace platform {

PageTransition::PageTransition(AnimationTransition transition, View& view, CairoSurfacePtr oldPage, int scale)
    : transition_(transition), view_(&view), oldPage_(std::move(oldPage)), scale_(scale),
      pageSize_(view.bounds().size) {}

void PageTransition::start(double startTime, double duration, cairo_surface_t* newPage) {
    startTime_ = startTime;
    duration_ = duration;
    if (transition_ == AnimationTransition::CurlUp) {
        artwork_ = makeCurlArtwork(oldPage_.get(), pageSize_, scale_);
    } else if (transition_ == AnimationTransition::CurlDown && newPage != nullptr) {
        artwork_ = makeCurlArtwork(newPage, pageSize_, scale_);
    }
}

double PageTransition::progressAt(double now) const {
    if (now >= startTime_ + duration_) {
        return 1.0;
    }
    if (!(duration_ > 0.0) || now <= startTime_) {
        return 0.0;
    }
    return std::clamp((now - startTime_) / duration_, 0.0, 1.0);
}

cairo_surface_t* PageTransition::newPageCanvas() const {
    const int width = cairo_image_surface_get_width(oldPage_.get());
    const int height = cairo_image_surface_get_height(oldPage_.get());
    if (!newPageCanvas_) {
        newPageCanvas_ = makeImageSurface(width, height);
    } else {
        CairoContextPtr cr = makeContext(newPageCanvas_.get());
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr.get());
    }
    return newPageCanvas_.get();
}

void PageTransition::drawFrame(cairo_t* cr, cairo_surface_t* newPage, double progress) const {
    const PagePictures pages{oldPage_.get(), newPage, pageSize_, scale_};
    switch (transition_) {
    case AnimationTransition::CurlUp:
        assert(artwork_ && "drawn before start()");
        drawPageCurlUp(cr, pages, *artwork_, progress);
        break;
    case AnimationTransition::CurlDown:
        assert(artwork_ && "drawn before start()");
        drawPageCurlDown(cr, pages, *artwork_, progress);
        break;
    case AnimationTransition::FlipFromLeft:
        drawPageFlip(cr, pages, progress, true);
        break;
    case AnimationTransition::FlipFromRight:
        drawPageFlip(cr, pages, progress, false);
        break;
    case AnimationTransition::None:
        // Only made for a real transition; show the new page should one slip through.
        drawPage(cr, pages, newPage);
        break;
    }
}

Animator::Animator(const Clock& clock, int scale) : clock_(clock), scale_(scale) {
    assert(scale >= 1 && scale <= 3);
}

void Animator::beginAnimations(std::string animationID) {
    assert(!open_ && "animation blocks do not nest");
    open_ = Block{};
    open_->animationID = std::move(animationID);
}

void Animator::setAnimationDuration(double seconds) {
    assert(open_);
    open_->duration = std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
}

void Animator::setAnimationDelegate(AnimationDelegate* delegate) {
    assert(open_);
    open_->delegate = delegate;
}

void Animator::setAnimationDidStopSelector(AnimationDidStopSelector selector) {
    assert(open_);
    open_->didStopSelector = selector;
}

void Animator::setAnimationTransition(AnimationTransition transition, View& view, bool /*cache*/) {
    assert(open_);
    if (transition == AnimationTransition::None) {
        open_->transition.reset();
        return;
    }
    // The old page is what is on the screen now, through any transition still running on it.
    CairoSurfacePtr oldPage = picture(view);
    open_->transition = std::make_unique<PageTransition>(transition, view, std::move(oldPage), scale_);
}

CairoSurfacePtr Animator::picture(View& view) const {
    return Compositor::picture(view, scale_, this);
}

void Animator::commitAnimations() {
    assert(open_);
    Block block = std::move(*open_);
    open_.reset();
    block.startTime = clock_.now();
    if (PageTransition* transition = block.transition.get()) {
        // The tree already holds the new page: picture it now if the transition shows its back.
        const CairoSurfacePtr newPage =
            transition->needsNewPageAtStart() ? picture(transition->view()) : nullptr;
        transition->start(block.startTime, block.duration, newPage.get());
        transition->view().setNeedsComposite();
    }
    running_.push_back(std::move(block));
}

bool Animator::isAnimating() const {
    return !running_.empty();
}

void Animator::advance() {
    const double now = clock_.now();
    std::vector<Block> stopped;
    for (auto it = running_.begin(); it != running_.end();) {
        if (it->transition) {
            // Turning or just finished: either way the view must be drawn again.
            it->transition->view().setNeedsComposite();
        }
        if (now >= it->endTime()) {
            stopped.push_back(std::move(*it));
            it = running_.erase(it);
        } else {
            ++it;
        }
    }
    // The stopped blocks are gone from the animator before their delegates hear of it, so a
    // delegate may begin and commit the next block from its call.
    for (Block& block : stopped) {
        block.transition.reset();
        if (block.delegate != nullptr && block.didStopSelector != nullptr) {
            (block.delegate->*block.didStopSelector)(block.animationID);
        }
    }
}

std::optional<double> Animator::nextFrameTime() const {
    std::optional<double> next;
    for (const Block& block : running_) {
        const double wanted = block.transition ? clock_.now() : block.endTime();
        next = next ? std::min(*next, wanted) : wanted;
    }
    return next;
}

const PageTransition* Animator::transitionFor(const View& view) const {
    for (auto it = running_.rbegin(); it != running_.rend(); ++it) {
        if (it->transition && &it->transition->view() == &view) {
            return it->transition.get();
        }
    }
    return nullptr;
}

} // namespace platform
