#include "platform/ui/Animation.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/PageCurl.h"
#include "platform/ui/View.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

using platform::AnimationDelegate;
using platform::AnimationTransition;
using platform::Animator;
using platform::Color;
using platform::Rect;
using platform::View;
using platform::VirtualClock;
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

void commitBlock(Animator& animator, const std::string& id, std::optional<double> duration,
                 AnimationDelegate& delegate) {
    animator.beginAnimations(id);
    if (duration) {
        animator.setAnimationDuration(*duration);
    }
    animator.setAnimationDelegate(&delegate);
    animator.setAnimationDidStopSelector(&AnimationDelegate::animationDidStop);
    animator.commitAnimations();
}

struct DidStopCase {
    const char* name;
    std::optional<double> duration; // as set; nullopt: never set
    double expected;                // seconds the block runs
    bool stepped;                   // 1/60 s frames, or one jump far past the end
};
void PrintTo(const DidStopCase& c, std::ostream* os) { *os << c.name; }

class DidStopTest : public testing::TestWithParam<DidStopCase> {};

TEST_P(DidStopTest, CalledExactlyOnceAndNotBeforeTheDuration) {
    const DidStopCase& c = GetParam();
    const double start = 0.25; // a block committed later than launch
    VirtualClock clock;
    clock.advanceTo(start);
    Animator animator(clock, kScale);
    RecordingDelegate delegate(clock);
    commitBlock(animator, "block", c.duration, delegate);
    EXPECT_TRUE(delegate.stops.empty()) << "never called from inside the commit";
    if (c.stepped) {
        for (int frame = 1; frame <= 120; ++frame) {
            clock.advanceTo(start + frame * kFrame);
            animator.advance();
        }
    } else {
        clock.advanceTo(start + c.expected + 10.0);
        animator.advance();
        animator.advance();
    }
    ASSERT_EQ(delegate.stops.size(), 1u);
    EXPECT_EQ(delegate.stops[0].first, "block");
    EXPECT_GE(delegate.stops[0].second, start + c.expected - 1e-9) << "stopped early";
    if (c.stepped) {
        EXPECT_LE(delegate.stops[0].second, start + c.expected + kFrame + 1e-9) << "stopped a frame late";
    }
    EXPECT_FALSE(animator.isAnimating());
    EXPECT_EQ(animator.nextFrameTime(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Durations, DidStopTest,
    testing::Values(DidStopCase{"zero_stepped", 0.0, 0.0, true}, DidStopCase{"zero_jump", 0.0, 0.0, false},
                    DidStopCase{"half_stepped", 0.5, 0.5, true}, DidStopCase{"half_jump", 0.5, 0.5, false},
                    DidStopCase{"one_stepped", 1.0, 1.0, true}, DidStopCase{"one_jump", 1.0, 1.0, false},
                    DidStopCase{"default_stepped", std::nullopt, 0.2, true},
                    DidStopCase{"negative_is_zero", -3.0, 0.0, true}),
    [](const testing::TestParamInfo<DidStopCase>& info) { return info.param.name; });

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

TEST(AnimatorTest, BlocksDoNotNest) {
    VirtualClock clock;
    Animator animator(clock, kScale);
    EXPECT_DEBUG_DEATH(
        {
            animator.beginAnimations("outer");
            animator.beginAnimations("inner");
        },
        "nest");
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

platform::CairoSurfacePtr copyOf(cairo_surface_t* surface) {
    platform::CairoSurfacePtr copy =
        platform::makeImageSurface(cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface));
    platform::CairoContextPtr cr = platform::makeContext(copy.get());
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

    platform::CairoSurfacePtr still(const std::shared_ptr<View>& content) {
        page->addSubview(content);
        compositor.render(*root);
        content->removeFromSuperview();
        return copyOf(compositor.surface());
    }

    // A one-second turn from `from` to `to`, committed at the clock's time.
    void turn(AnimationTransition transition, const std::shared_ptr<View>& from, const std::shared_ptr<View>& to) {
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

    static std::shared_ptr<View> pageView() { return std::make_shared<View>(Rect(0, 0, 64, 80)); }

    // Device pixels just inside the page's corners.
    const int left = int(kPageFrame.minX()) * kScale + 1;
    const int top = int(kPageFrame.minY()) * kScale + 1;
    const int right = int(kPageFrame.maxX()) * kScale - 2;
    const int bottom = int(kPageFrame.maxY()) * kScale - 2;

    VirtualClock clock;
    Animator animator{clock, kScale};
    platform::Compositor compositor{platform::Size{80, 96}, kScale};
    std::shared_ptr<View> root = std::make_shared<View>(Rect(0, 0, 80, 96));
    std::shared_ptr<View> page = std::make_shared<View>(kPageFrame);
    std::shared_ptr<View> red = pageView();
    std::shared_ptr<View> blue = pageView();
    platform::CairoSurfacePtr redReference;
    platform::CairoSurfacePtr blueReference;
};

TEST_F(PageTurnTest, TreeChangesAtOnceAndFramesAreWantedUntilTheEnd) {
    clock.advanceTo(2.0);
    turn(AnimationTransition::CurlUp, red, blue);
    ASSERT_EQ(page->subviews().size(), 1u);
    EXPECT_EQ(page->subviews()[0], blue) << "the model holds the new page right after commit";
    EXPECT_NE(animator.transitionFor(*page), nullptr);
    EXPECT_EQ(animator.transitionFor(*root), nullptr);
    EXPECT_EQ(animator.transitionFor(*blue), nullptr);
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
                                         AnimationTransition::FlipFromLeft, AnimationTransition::FlipFromRight));

TEST_F(PageTurnTest, CurlUpPeelsFromTheBottomRightOverALiveNewPage) {
    turn(AnimationTransition::CurlUp, red, blue);
    blue->setBackgroundColor(Color{0, 1, 0, 1}); // the new page is composed every frame
    red->setBackgroundColor(Color{1, 1, 0, 1});  // the old one was pictured at the start
    cairo_surface_t* early = frameAt(0.3);
    EXPECT_TRUE(near(pixelAt(early, left, top), kRed)) << "far corner still flat: " << pixelAt(early, left, top);
    EXPECT_TRUE(near(pixelAt(early, right, bottom), Color{0, 1, 0, 1}))
        << "lifted corner shows the new page: " << pixelAt(early, right, bottom);
    blue->setBackgroundColor(kBlue);
    EXPECT_EQ(differingPixels(frameAt(0.98), blueReference.get()), 0)
        << "fold and shadows have left the page before the end: no jump at the last frame";
}

TEST_F(PageTurnTest, FlapShowsTheOldPageMirroredAcrossTheFold) {
    auto halves = pageView(); // red on the left, green on the right
    halves->setBackgroundColor(kRed);
    auto rightHalf = std::make_shared<View>(Rect(32, 0, 32, 80));
    rightHalf->setBackgroundColor(Color{0, 1, 0, 1});
    halves->addSubview(rightHalf);
    red->removeFromSuperview();
    page->addSubview(halves);
    turn(AnimationTransition::CurlUp, halves, blue);
    const double progress = 0.3;
    cairo_surface_t* frame = frameAt(progress);
    const platform::CurlFold fold = platform::curlUpFold(kPageFrame.size, progress);
    int flapPixels = 0;
    int wrongSide = 0;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            const Rgba c = pixelAt(frame, x, y);
            if (std::min(c.r, c.g) < 100 || c.b < 100) {
                continue; // only the washed-out back mixes white into pure red, green and blue
            }
            ++flapPixels;
            const double px = (x + 0.5) / kScale - kPageFrame.minX();
            const double py = (y + 0.5) / kScale - kPageFrame.minY();
            const double d = 2.0 * (fold.normalX * px + fold.normalY * py - fold.offset);
            wrongSide += (px - d * fold.normalX < 32.0) != (c.r > c.g);
        }
    }
    EXPECT_GT(flapPixels, 200);
    EXPECT_LE(wrongSide, flapPixels / 50) << "of " << flapPixels << " flap pixels";
}

// A curl down from A to B is the curl up from B to A run backwards.
class CurlDownMirrorTest : public PageTurnTest, public testing::WithParamInterface<double> {};

TEST_P(CurlDownMirrorTest, FrameEqualsCurlUpFromTheOtherPageAtOneMinusProgress) {
    const double progress = GetParam();
    turn(AnimationTransition::CurlDown, red, blue);
    const platform::CairoSurfacePtr down = copyOf(frameAt(progress));
    clock.advanceTo(10.0);
    animator.advance();
    turn(AnimationTransition::CurlUp, blue, red);
    EXPECT_EQ(differingPixels(down.get(), frameAt(10.0 + 1.0 - progress), 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Progress, CurlDownMirrorTest, testing::Values(0.0, 0.25, 0.5, 0.75, 1.0));

} // namespace
