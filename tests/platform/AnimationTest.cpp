#include "platform/ui/Animation.h"

#include "platform/ui/Compositor.h"
#include "platform/ui/View.h"
#include "tests/support/Pixels.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace platform {
namespace {

constexpr double kFrame = 1.0 / 60.0; // seconds
constexpr int kScale = 2;

// A virtual clock and an animator on it, with the test as the delegate that records every did-stop
// call with the clock's time, then runs `onStop`.
class AnimatorTest : public testing::Test, public AnimationDelegate {
protected:
    void animationDidStop(const std::string& animationID) override {
        stops.push_back({animationID, clock.now()});
        if (onStop) {
            onStop(animationID);
        }
    }
    void commit(const std::string& id, double duration) {
        animator.beginAnimations(id);
        animator.setAnimationDuration(duration);
        animator.setAnimationDelegate(this);
        animator.setAnimationDidStopSelector(&AnimationDelegate::animationDidStop);
        animator.commitAnimations();
    }
    void runTo(double time) {
        clock.advanceTo(time);
        animator.advance();
    }

    VirtualClock clock;
    Animator animator{clock, kScale};
    std::vector<std::pair<std::string, double>> stops;
    std::function<void(const std::string&)> onStop;
};

TEST_F(AnimatorTest, DidStopIsCalledExactlyOnceAndNotBeforeTheDuration) {
    const struct {
        double duration; // as set; negative counts as zero
        bool stepped;    // 1/60 s frames, or one jump far past the end
    } cases[] = {{0.0, true}, {0.5, true}, {1.0, true}, {1.0, false}, {-3.0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.duration);
        const double start = clock.now() + 0.25; // a block committed later than launch
        const double expected = std::max(c.duration, 0.0);
        clock.advanceTo(start);
        stops.clear();
        commit("block", c.duration);
        EXPECT_TRUE(stops.empty()) << "never called from inside the commit";
        for (int frame = 1; frame <= (c.stepped ? 120 : 2); ++frame) {
            runTo(c.stepped ? start + frame * kFrame : start + expected + 10.0);
        }
        ASSERT_EQ(stops.size(), 1u);
        EXPECT_EQ(stops[0].first, "block");
        EXPECT_GE(stops[0].second, start + expected - 1e-9) << "stopped early";
        EXPECT_TRUE(!c.stepped || stops[0].second <= start + expected + kFrame + 1e-9) << "a frame late";
        EXPECT_FALSE(animator.isAnimating());
        EXPECT_EQ(animator.nextFrameTime(), std::nullopt);
    }
}

TEST_F(AnimatorTest, DelegateMayStartTheNextBlockFromDidStop) {
    onStop = [&](const std::string& id) {
        if (id == "first") {
            commit("second", 0.5);
        }
    };
    commit("first", 1.0);
    for (int frame = 1; frame <= 150; ++frame) {
        runTo(frame * kFrame);
    }
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[1].first, "second");
    EXPECT_GE(stops[1].second - stops[0].second, 0.5 - 1e-9);
    EXPECT_FALSE(animator.isAnimating());
}

// ---- Page turns, composed ----------------------------------------------------------------------

// A grey window with a page view holding one solid page, swapped for another the way the
// application swaps its recorder and settings pages; both pages composed still, for reference.
class PageTurnTest : public AnimatorTest {
protected:
    PageTurnTest() {
        root->setBackgroundColor(Color{0.2, 0.2, 0.2, 1});
        page->setClipsToBounds(true);
        root->addSubview(page);
        red->setBackgroundColor(Color{1, 0, 0, 1});
        blue->setBackgroundColor(Color{0, 0, 1, 1});
        redReference = still(red);
        blueReference = still(blue);
        page->addSubview(red);
    }

    CairoSurfacePtr still(const std::shared_ptr<View>& content) {
        page->addSubview(content);
        Compositor once(Size{80, 96}, kScale);
        once.render(*root);
        content->removeFromSuperview();
        return CairoSurfacePtr(cairo_surface_reference(once.surface()));
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

    // Pixels where the frame at `time` and `reference` differ by more than `fewLevels`.
    long offFrom(cairo_surface_t* reference, double time, int fewLevels = 0) {
        return testing_support::differenceOf(frameAt(time), reference, fewLevels).off;
    }

    Compositor compositor{Size{80, 96}, kScale};
    std::shared_ptr<View> root = std::make_shared<View>(Rect(0, 0, 80, 96));
    std::shared_ptr<View> page = std::make_shared<View>(Rect(8, 6, 64, 80)); // off the window's origin
    std::shared_ptr<View> red = std::make_shared<View>(Rect(0, 0, 64, 80));
    std::shared_ptr<View> blue = std::make_shared<View>(Rect(0, 0, 64, 80));
    CairoSurfacePtr redReference;
    CairoSurfacePtr blueReference;
};

TEST_F(PageTurnTest, TreeChangesAtOnceAndFramesAreWantedUntilTheEnd) {
    clock.advanceTo(2.0);
    turn(AnimationTransition::CurlUp, red, blue);
    EXPECT_EQ(page->subviews(), std::vector<std::shared_ptr<View>>{blue})
        << "the new page right after commit";
    EXPECT_NE(animator.transitionFor(*page), nullptr);
    animator.beginAnimations("plain");
    animator.setAnimationDuration(1.5);
    animator.commitAnimations();
    for (double time : {2.25, 2.5, 3.0}) {
        compositor.render(*root, &animator);
        runTo(time);
        EXPECT_TRUE(root->hasChanges()) << "a turning page asks for a frame at " << time;
        EXPECT_EQ(animator.nextFrameTime(), std::optional<double>(time < 3.0 ? time : 3.5))
            << "now while turning, then the other block's end";
    }
    EXPECT_EQ(animator.transitionFor(*page), nullptr);
    compositor.render(*root, &animator);
    runTo(3.5);
    EXPECT_FALSE(root->hasChanges());
    EXPECT_FALSE(animator.isAnimating());
}

// Every transition starts on the old page, ends on the new one and is neither halfway, where the
// page's surroundings stay as they were.
TEST_F(PageTurnTest, StartsOnTheOldPageEndsOnTheNewOne) {
    const long pagePixels = 64 * 80 * kScale * kScale;
    for (const AnimationTransition transition :
         {AnimationTransition::CurlUp, AnimationTransition::CurlDown, AnimationTransition::FlipFromLeft,
          AnimationTransition::FlipFromRight}) {
        SCOPED_TRACE(static_cast<int>(transition));
        const double start = clock.now();
        turn(transition, red, blue);
        EXPECT_EQ(offFrom(redReference.get(), start), 0);
        EXPECT_GT(offFrom(redReference.get(), start + 0.5, 8), pagePixels / 10);
        EXPECT_GT(offFrom(blueReference.get(), start + 0.5, 8), pagePixels / 10);
        EXPECT_EQ(testing_support::wordAt(compositor.surface(), 2, 2), 0xff333333u) << "outside the page";
        EXPECT_EQ(offFrom(blueReference.get(), start + 1.0), 0) << "the last frame, still turning";
        runTo(clock.now() + 10.0);
        EXPECT_EQ(offFrom(blueReference.get(), clock.now()), 0);
        blue->removeFromSuperview();
        page->addSubview(red);
    }
}

// A curl down from A to B is the curl up from B to A run backwards.
TEST_F(PageTurnTest, CurlDownFrameEqualsCurlUpFromTheOtherPageAtOneMinusProgress) {
    for (const double progress : {0.25, 0.75}) {
        turn(AnimationTransition::CurlDown, red, blue);
        cairo_surface_t* frame = frameAt(clock.now() + progress);
        const CairoSurfacePtr down =
            testing_support::surfaceOfWords(CAIRO_FORMAT_ARGB32, 160, 192, [&](int x, int y) {
                return testing_support::wordAt(frame, x, y);
            });
        runTo(clock.now() + 10.0);
        turn(AnimationTransition::CurlUp, blue, red);
        EXPECT_EQ(offFrom(down.get(), clock.now() + 1.0 - progress, 1), 0) << progress;
        runTo(clock.now() + 10.0);
    }
}

} // namespace
} // namespace platform
