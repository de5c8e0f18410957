#include "platform/ui/Compositor.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/View.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>

using platform::Color;
using platform::Compositor;
using platform::Point;
using platform::Rect;
using platform::Size;
using platform::View;
using testing_support::pixelAt;

namespace {

// A view that paints its bounds in one colour and counts its drawRect calls.
class CountingView : public View {
public:
    explicit CountingView(Rect frame, Color color = {1, 0, 0, 1}) : View(frame), color_(color) {}
    void drawRect(platform::GraphicsContext& context, const Rect&) override {
        ++drawCount;
        cairo_set_source_rgba(context.cairo(), color_.red, color_.green, color_.blue, color_.alpha);
        cairo_rectangle(context.cairo(), 0, 0, bounds().size.width, bounds().size.height);
        cairo_fill(context.cairo());
    }
    bool drawsContent() const override { return true; }
    int drawCount = 0;

private:
    Color color_;
};

bool isRed(testing_support::Rgba c) { return c.r > 200 && c.g < 50 && c.b < 50 && c.a > 200; }

} // namespace

TEST(ViewTest, SubviewsKeepOrderAndMoveBetweenParents) {
    auto a = std::make_shared<View>(Rect(0, 0, 10, 10));
    auto b = std::make_shared<View>(Rect(0, 0, 10, 10));
    auto child = std::make_shared<View>(Rect(1, 2, 3, 4));
    auto other = std::make_shared<View>(Rect(0, 0, 1, 1));
    a->addSubview(child);
    a->addSubview(other);
    ASSERT_EQ(a->subviews().size(), 2u);
    EXPECT_EQ(a->subviews()[0], child);
    EXPECT_EQ(child->superview(), a.get());

    b->addSubview(child);
    EXPECT_EQ(a->subviews().size(), 1u);
    EXPECT_EQ(child->superview(), b.get());

    // Re-adding brings a view to the front.
    a->addSubview(child);
    a->addSubview(other);
    EXPECT_EQ(a->subviews().back(), other);

    std::weak_ptr<View> watch = child;
    child.reset();
    a->subviews().front()->removeFromSuperview();
    EXPECT_TRUE(watch.expired()) << "the parent held the last reference";
}

TEST(ViewTest, BoundsHaveZeroOriginAndFrameFollowsAnchor) {
    View v(Rect(10, 20, 30, 40));
    EXPECT_EQ(v.bounds(), Rect(0, 0, 30, 40));
    EXPECT_EQ(v.layer().position(), (Point{25, 40}));
    v.layer().setAnchorPoint(Point{0.5f, -1.0f});
    v.layer().setPosition(Point{159, -371});
    EXPECT_EQ(v.frame(), Rect(159 - 15, -371 + 40, 30, 40));
}

TEST(ViewTest, SeveralMarksBeforeOnePassGiveOneDrawRect) {
    auto root = std::make_shared<View>(Rect(0, 0, 8, 8));
    auto view = std::make_shared<CountingView>(Rect(0, 0, 8, 8));
    root->addSubview(view);
    Compositor compositor(Size{8, 8}, 1);
    compositor.render(*root);
    EXPECT_EQ(view->drawCount, 1);
    compositor.render(*root);
    EXPECT_EQ(view->drawCount, 1) << "an unmarked view is not drawn again";
    view->setNeedsDisplay();
    view->setNeedsDisplay();
    view->setNeedsDisplay();
    EXPECT_EQ(view->drawCount, 1) << "setNeedsDisplay only marks";
    compositor.render(*root);
    EXPECT_EQ(view->drawCount, 2);
}

TEST(ViewTest, ChangesAreReportedToTheRoot) {
    auto root = std::make_shared<View>(Rect(0, 0, 8, 8));
    auto mid = std::make_shared<View>(Rect(0, 0, 8, 8));
    auto leaf = std::make_shared<CountingView>(Rect(0, 0, 8, 8));
    root->addSubview(mid);
    mid->addSubview(leaf);
    Compositor compositor(Size{8, 8}, 1);
    compositor.render(*root);
    EXPECT_FALSE(root->hasChanges());
    leaf->layer().setValueForKeyPath(1.0f, "transform.translation.y");
    EXPECT_TRUE(root->hasChanges());
    compositor.render(*root);
    leaf->setNeedsDisplay();
    EXPECT_TRUE(root->hasChanges());
}

TEST(ViewTest, KeyPathsReplaceOnlyTheirOwnComponent) {
    View v(Rect(0, 0, 10, 10));
    EXPECT_TRUE(v.layer().setValueForKeyPath(0.5f, "transform.rotation.z"));
    EXPECT_TRUE(v.layer().setValueForKeyPath(7.0f, "transform.translation.y"));
    EXPECT_TRUE(v.layer().setValueForKeyPath(-0.25f, "transform.rotation.z"));
    EXPECT_EQ(v.layer().rotationZ(), -0.25f);
    EXPECT_EQ(v.layer().translation().y, 7.0f);
    EXPECT_FALSE(v.layer().setValueForKeyPath(1.0f, "transform.scale"));
}

TEST(ViewTest, ClipsToBoundsHidesChildrenOutside) {
    for (bool clips : {false, true}) {
        auto root = std::make_shared<View>(Rect(0, 0, 40, 30));
        auto box = std::make_shared<View>(Rect(0, 0, 10, 10));
        auto red = std::make_shared<CountingView>(Rect(5, 0, 20, 10));
        box->setClipsToBounds(clips);
        box->addSubview(red);
        root->addSubview(box);
        Compositor compositor(Size{40, 30}, 2);
        compositor.render(*root);
        EXPECT_EQ(isRed(pixelAt(compositor.surface(), 30, 10)), !clips) << "clips " << clips;
        EXPECT_TRUE(isRed(pixelAt(compositor.surface(), 15, 10)));
    }
}

TEST(ViewTest, BackgroundColourFillsBoundsBehindContent) {
    auto root = std::make_shared<View>(Rect(0, 0, 20, 20));
    root->setBackgroundColor(Color{0, 0, 1, 1});
    root->addSubview(std::make_shared<CountingView>(Rect(0, 0, 10, 20)));
    Compositor compositor(Size{20, 20}, 1);
    compositor.render(*root);
    EXPECT_TRUE(isRed(pixelAt(compositor.surface(), 5, 5)));
    EXPECT_EQ(pixelAt(compositor.surface(), 15, 5).b, 255);
}

TEST(ViewTest, NonFiniteTransformLeavesOnlyThatViewOut) {
    auto root = std::make_shared<View>(Rect(0, 0, 20, 20));
    auto bad = std::make_shared<CountingView>(Rect(0, 0, 10, 10));
    auto good = std::make_shared<CountingView>(Rect(10, 10, 10, 10));
    bad->layer().setValueForKeyPath(std::numeric_limits<float>::quiet_NaN(), "transform.rotation.z");
    root->addSubview(bad);
    root->addSubview(good);
    Compositor compositor(Size{20, 20}, 1);
    compositor.render(*root);
    EXPECT_FALSE(isRed(pixelAt(compositor.surface(), 5, 5)));
    EXPECT_TRUE(isRed(pixelAt(compositor.surface(), 15, 15)));
}

TEST(CompositorTest, RejectsScalesOutsideOneToThree) {
    EXPECT_THROW(Compositor(Size{1, 1}, 0), std::invalid_argument);
    EXPECT_THROW(Compositor(Size{1, 1}, 4), std::invalid_argument);
    EXPECT_EQ(cairo_image_surface_get_width(Compositor(Size{320, 411}, 3).surface()), 960);
}

TEST(CompositorTest, WritePngNamesTheFileOnFailure) {
    Compositor compositor(Size{4, 4}, 1);
    try {
        compositor.writePng("/nonexistent-folder/picture.png");
        FAIL() << "expected an error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent-folder/picture.png"), std::string::npos)
            << error.what();
    }
}

TEST(ViewTest, ImageViewWithoutImageShowsNothing) {
    auto root = std::make_shared<View>(Rect(0, 0, 8, 8));
    auto image = std::make_shared<platform::ImageView>(Rect(0, 0, 8, 8));
    platform::CairoSurfacePtr red = platform::makeImageSurface(4, 4);
    {
        platform::CairoContextPtr cr = platform::makeContext(red.get());
        cairo_set_source_rgb(cr.get(), 1, 0, 0);
        cairo_paint(cr.get());
    }
    image->setImage(std::make_shared<const platform::Image>(std::move(red)));
    root->addSubview(image);
    Compositor compositor(Size{8, 8}, 1);
    compositor.render(*root);
    ASSERT_TRUE(isRed(pixelAt(compositor.surface(), 4, 4)));
    image->setImage(nullptr);
    compositor.render(*root);
    EXPECT_EQ(pixelAt(compositor.surface(), 4, 4).a, 0) << "no stale picture";
}

namespace {

struct CoverCase {
    const char* name;
    std::function<std::shared_ptr<View>()> makeChild;
};

void PrintTo(const CoverCase& c, std::ostream* os) { *os << c.name; }

class CoveredBackgroundTest : public testing::TestWithParam<CoverCase> {};

// A background is left out where an opaque subview covers it; that must never show: the frame
// equals one where the background is an ordinary view of its own beneath the subview.
TEST_P(CoveredBackgroundTest, FrameIsAsIfTheBackgroundWerePaintedWhole) {
    const Color blue{0.1, 0.2, 0.9, 1.0};
    auto withHole = std::make_shared<View>(Rect(0, 0, 40, 30));
    withHole->setBackgroundColor(blue);
    withHole->addSubview(GetParam().makeChild());

    auto painted = std::make_shared<View>(Rect(0, 0, 40, 30));
    auto backdrop = std::make_shared<View>(Rect(0, 0, 40, 30));
    backdrop->setBackgroundColor(blue);
    painted->addSubview(backdrop);
    painted->addSubview(GetParam().makeChild());

    for (int scale : {1, 2}) {
        Compositor expected(Size{40, 30}, scale);
        expected.render(*painted);
        Compositor actual(Size{40, 30}, scale);
        actual.render(*withHole);
        EXPECT_TRUE(testing_support::samePixels(expected.surface(), actual.surface())) << "at scale " << scale;
    }
}

std::shared_ptr<View> coloured(Rect frame, Color color) {
    auto view = std::make_shared<View>(frame);
    view->setBackgroundColor(color);
    return view;
}

INSTANTIATE_TEST_SUITE_P(
    Subviews, CoveredBackgroundTest,
    testing::Values(
        CoverCase{"opaque", [] { return coloured(Rect(5, 4, 20, 10), Color{1, 0, 0, 1}); }},
        CoverCase{"translucent", [] { return coloured(Rect(5, 4, 20, 10), Color{1, 0, 0, 0.5}); }},
        CoverCase{"hidden",
                  [] {
                      auto view = coloured(Rect(5, 4, 20, 10), Color{1, 0, 0, 1});
                      view->setHidden(true);
                      return view;
                  }},
        CoverCase{"turned",
                  [] {
                      auto view = coloured(Rect(5, 4, 20, 10), Color{1, 0, 0, 1});
                      view->layer().setValueForKeyPath(0.3f, "transform.rotation.z");
                      return view;
                  }},
        CoverCase{"between_pixels", [] { return coloured(Rect(5.25f, 4.5f, 20, 10), Color{1, 0, 0, 1}); }},
        CoverCase{"past_the_edge", [] { return coloured(Rect(-5, 20, 60, 30), Color{1, 0, 0, 1}); }},
        CoverCase{"covered_by_its_own_child",
                  [] {
                      auto view = std::make_shared<View>(Rect(5, 4, 20, 10));
                      view->addSubview(coloured(Rect(-1, -1, 22, 12), Color{0, 1, 0, 1}));
                      return view;
                  }},
        CoverCase{"child_that_misses_a_corner",
                  [] {
                      auto view = std::make_shared<View>(Rect(5, 4, 20, 10));
                      view->addSubview(coloured(Rect(1, 0, 19, 10), Color{0, 1, 0, 1}));
                      return view;
                  }}),
    [](const testing::TestParamInfo<CoverCase>& info) { return info.param.name; });

} // namespace
