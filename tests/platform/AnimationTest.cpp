#include "platform/ui/Animation.h"

#include "platform/ui/Compositor.h"
#include "platform/ui/View.h"
#include "tests/support/Pixels.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace platform {

using testing_support::pixelAt;
using testing_support::Rgba;

namespace {

constexpr double kFrame = 1.0 / 60.0; // seconds
constexpr int kScale = 2;

// Records every did-stop call with the clock's time, then runs `onStop`.
struct RecordingDelegate : AnimationDelegate {
    explicit RecordingDelegate(const VirtualClock& c) : clock(c) {}
    void animationDidStop(const std::string& animationID) override {
        stops.push_back({animationID, clock.now()});
        if (onStop) {
            onStop(animationID);
        }
    }
    const VirtualClock& clock;
    std::vector<std::pair<std::string, double>> stops;
    std::function<void(const std::string&)> onStop;
};

void commitBlock(Animator& animator, const std::string& id, double duration, AnimationDelegate& delegate) {
    animator.beginAnimations(id);
    animator.setAnimationDuration(duration);
    animator.setAnimationDelegate(&delegate);
    animator.setAnimationDidStopSelector(&AnimationDelegate::animationDidStop);
    animator.commitAnimations();
}

TEST(AnimatorTest, DidStopIsCalledExactlyOnceAndNotBeforeTheDuration) {
    const struct {
        double duration; // as set; negative counts as zero
        bool stepped;    // 1/60 s frames, or one jump far past the end
    } cases[] = {{0.0, true}, {0.5, true}, {1.0, true}, {1.0, false}, {-3.0, true}};
    for (const auto& c : cases) {
        const double start = 0.25; // a block committed later than launch
        const double expected = std::max(c.duration, 0.0);
        VirtualClock clock;
        clock.advanceTo(start);
        Animator animator(clock, kScale);
        RecordingDelegate delegate(clock);
        commitBlock(animator, "block", c.duration, delegate);
        EXPECT_TRUE(delegate.stops.empty()) << "never called from inside the commit";
        for (int frame = 1; frame <= (c.stepped ? 120 : 2); ++frame) {
            clock.advanceTo(c.stepped ? start + frame * kFrame : start + expected + 10.0);
            animator.advance();
        }
        ASSERT_EQ(delegate.stops.size(), 1u) << c.duration;
        EXPECT_EQ(delegate.stops[0].first, "block");
        EXPECT_GE(delegate.stops[0].second, start + expected - 1e-9) << c.duration << ": stopped early";
        if (c.stepped) {
            EXPECT_LE(delegate.stops[0].second, start + expected + kFrame + 1e-9)
                << c.duration << ": a frame late";
        }
        EXPECT_FALSE(animator.isAnimating());
        EXPECT_EQ(animator.nextFrameTime(), std::nullopt);
    }
}

TEST(AnimatorTest, DelegateMayStartTheNextBlockFromDidStop) {
    VirtualClock clock;
    Animator animator(clock, kScale);
    RecordingDelegate delegate(clock);
    delegate.onStop = [&](const std::string& id) {
        if (id == "first") {
            commitBlock(animator, "second", 0.5, delegate);
        }
    };
    commitBlock(animator, "first", 1.0, delegate);
    for (int frame = 1; frame <= 150; ++frame) {
        clock.advanceTo(frame * kFrame);
        animator.advance();
    }
    ASSERT_EQ(delegate.stops.size(), 2u);
    EXPECT_EQ(delegate.stops[1].first, "second");
    EXPECT_GE(delegate.stops[1].second - delegate.stops[0].second, 0.5 - 1e-9);
    EXPECT_FALSE(animator.isAnimating());
}

// ---- Page turns, composed ----------------------------------------------------------------------

constexpr Rect kPageFrame(8.0f, 6.0f, 64.0f, 80.0f); // off the window's origin
constexpr Color kGrey{0.2, 0.2, 0.2, 1};
constexpr Color kRed{1, 0, 0, 1};
constexpr Color kBlue{0, 0, 1, 1};

bool near(Rgba c, Color want) {
    return std::abs(c.r - int(want.red * 255)) <= 2 && std::abs(c.g - int(want.green * 255)) <= 2 &&
           std::abs(c.b - int(want.blue * 255)) <= 2 && c.a == 255;
}

// Pixels where two equal-sized surfaces differ by more than `tolerance` in any component.
int differingPixels(cairo_surface_t* a, cairo_surface_t* b, int tolerance = 0) {
    int count = 0;
    for (int y = 0; y < cairo_image_surface_get_height(a); ++y) {
        for (int x = 0; x < cairo_image_surface_get_width(a); ++x) {
            const Rgba p = pixelAt(a, x, y);
            const Rgba q = pixelAt(b, x, y);
            count += std::abs(p.r - q.r) > tolerance || std::abs(p.g - q.g) > tolerance ||
                     std::abs(p.b - q.b) > tolerance || std::abs(p.a - q.a) > tolerance;
        }
    }
    return count;
}

CairoSurfacePtr copyOf(cairo_surface_t* surface) {
    CairoSurfacePtr copy =
        makeImageSurface(cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface));
    CairoContextPtr cr = makeContext(copy.get());
    cairo_set_source_surface(cr.get(), surface, 0, 0);
    cairo_paint(cr.get());
    return copy;
}

// A grey window with a page view holding one solid page, swapped for another the way the
// application swaps its recorder and settings pages; both pages composed still, for reference.
class PageTurnTest : public testing::Test {
protected:
    PageTurnTest() {
        root->setBackgroundColor(kGrey);
        page->setClipsToBounds(true);
        root->addSubview(page);
        red->setBackgroundColor(kRed);
        blue->setBackgroundColor(kBlue);
        redReference = still(red);
        blueReference = still(blue);
        page->addSubview(red);
    }

    CairoSurfacePtr still(const std::shared_ptr<View>& content) {
        page->addSubview(content);
        compositor.render(*root);
        content->removeFromSuperview();
        return copyOf(compositor.surface());
    }

    // A one-second turn from `from` to `to`, committed at the clock's time.
    void turn(AnimationTransition transition, const std::shared_ptr<View>& from,
              const std::shared_ptr<View>& to) {
        animator.beginAnimations("turn");
        animator.setAnimationDuration(1.0);
        animator.setAnimationTransition(transition, *page, true);
        from->removeFromSuperview();
        page->addSubview(to);
        animator.commitAnimations();
    }

    cairo_surface_t* frameAt(double time) {
        clock.advanceTo(time);
        compositor.render(*root, &animator);
        return compositor.surface();
    }

    VirtualClock clock;
    Animator animator{clock, kScale};
    Compositor compositor{Size{80, 96}, kScale};
    std::shared_ptr<View> root = std::make_shared<View>(Rect(0, 0, 80, 96));
    std::shared_ptr<View> page = std::make_shared<View>(kPageFrame);
    std::shared_ptr<View> red = std::make_shared<View>(Rect(0, 0, 64, 80));
    std::shared_ptr<View> blue = std::make_shared<View>(Rect(0, 0, 64, 80));
    CairoSurfacePtr redReference;
    CairoSurfacePtr blueReference;
};

TEST_F(PageTurnTest, TreeChangesAtOnceAndFramesAreWantedUntilTheEnd) {
    clock.advanceTo(2.0);
    turn(AnimationTransition::CurlUp, red, blue);
    ASSERT_EQ(page->subviews().size(), 1u);
    EXPECT_EQ(page->subviews()[0], blue) << "the model holds the new page right after commit";
    EXPECT_NE(animator.transitionFor(*page), nullptr);
    animator.beginAnimations("plain");
    animator.setAnimationDuration(1.5);
    animator.commitAnimations();

    for (double time : {2.25, 2.5, 3.0}) {
        compositor.render(*root, &animator);
        clock.advanceTo(time);
        animator.advance();
        EXPECT_TRUE(root->hasChanges()) << "a turning page asks for a frame at " << time;
        EXPECT_EQ(animator.nextFrameTime(), std::optional<double>(time < 3.0 ? time : 3.5))
            << "now while turning, then the other block's end";
    }
    EXPECT_EQ(animator.transitionFor(*page), nullptr);
    compositor.render(*root, &animator);
    clock.advanceTo(3.5);
    animator.advance();
    EXPECT_FALSE(root->hasChanges());
    EXPECT_FALSE(animator.isAnimating());
}

// Every transition starts on the old page, ends on the new one and is neither halfway.
class PageTurnEndsTest : public PageTurnTest, public testing::WithParamInterface<AnimationTransition> {};

TEST_P(PageTurnEndsTest, StartsOnTheOldPageEndsOnTheNewOne) {
    turn(GetParam(), red, blue);
    EXPECT_EQ(differingPixels(frameAt(0.0), redReference.get()), 0);
    cairo_surface_t* midway = frameAt(0.5);
    const int pagePixels = 64 * 80 * kScale * kScale;
    EXPECT_GT(differingPixels(midway, redReference.get(), 8), pagePixels / 10);
    EXPECT_GT(differingPixels(midway, blueReference.get(), 8), pagePixels / 10);
    EXPECT_TRUE(near(pixelAt(midway, 2, 2), kGrey)) << "outside the page: " << pixelAt(midway, 2, 2);
    EXPECT_EQ(differingPixels(frameAt(1.0), blueReference.get()), 0) << "the last frame, still turning";
    animator.advance();
    EXPECT_EQ(differingPixels(frameAt(1.0), blueReference.get()), 0);
}

INSTANTIATE_TEST_SUITE_P(Transitions, PageTurnEndsTest,
                         testing::Values(AnimationTransition::CurlUp, AnimationTransition::CurlDown,
                                         AnimationTransition::FlipFromLeft,
                                         AnimationTransition::FlipFromRight));

// A curl down from A to B is the curl up from B to A run backwards.
TEST_F(PageTurnTest, CurlDownFrameEqualsCurlUpFromTheOtherPageAtOneMinusProgress) {
    for (const double progress : {0.25, 0.75}) {
        turn(AnimationTransition::CurlDown, red, blue);
        const CairoSurfacePtr down = copyOf(frameAt(clock.now() + progress));
        clock.advanceTo(clock.now() + 10.0);
        animator.advance();
        turn(AnimationTransition::CurlUp, blue, red);
        EXPECT_EQ(differingPixels(down.get(), frameAt(clock.now() + 1.0 - progress), 1), 0) << progress;
        clock.advanceTo(clock.now() + 10.0);
        animator.advance();
    }
}

} // namespace
} // namespace platform
