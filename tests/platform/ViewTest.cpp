#include "platform/ui/Compositor.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/View.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using platform::Color;
using platform::Compositor;
using platform::Rect;
using platform::Size;
using platform::View;
using testing_support::pixelAt;

namespace {

// A view that paints its bounds red and counts its drawRect calls.
class CountingView : public View {
public:
    using View::View;
    void drawRect(platform::GraphicsContext& context, const Rect&) override {
        ++drawCount;
        cairo_set_source_rgb(context.cairo(), 1, 0, 0);
        cairo_paint(context.cairo());
    }
    bool drawsContent() const override { return true; }
    int drawCount = 0;
};

std::shared_ptr<View> coloured(Rect frame, Color color) {
    auto view = std::make_shared<View>(frame);
    view->setBackgroundColor(color);
    return view;
}

} // namespace

TEST(ViewTest, SubviewsKeepOrderAndMoveBetweenParents) {
    auto a = std::make_shared<View>(Rect(0, 0, 10, 10));
    auto b = std::make_shared<View>(Rect(0, 0, 10, 10));
    auto child = std::make_shared<View>(Rect(1, 2, 3, 4));
    auto other = std::make_shared<View>(Rect(0, 0, 1, 1));
    a->addSubview(child);
    a->addSubview(other);
    b->addSubview(child);
    EXPECT_EQ(a->subviews(), std::vector<std::shared_ptr<View>>{other});
    EXPECT_EQ(child->superview(), b.get());
    a->addSubview(child);
    a->addSubview(other);
    EXPECT_EQ(a->subviews(), (std::vector<std::shared_ptr<View>>{child, other})) << "re-adding brings to the front";

    std::weak_ptr<View> watch = child;
    child.reset();
    a->subviews().front()->removeFromSuperview();
    EXPECT_TRUE(watch.expired()) << "the parent held the last reference";
}

TEST(ViewTest, MarksBeforeAPassGiveOneDrawRectAndReachTheRoot) {
    auto root = std::make_shared<View>(Rect(0, 0, 8, 8));
    auto mid = std::make_shared<View>(Rect(0, 0, 8, 8));
    auto leaf = std::make_shared<CountingView>(Rect(0, 0, 8, 8));
    root->addSubview(mid);
    mid->addSubview(leaf);
    Compositor compositor(Size{8, 8}, 1);
    compositor.render(*root);
    compositor.render(*root);
    EXPECT_EQ(leaf->drawCount, 1) << "an unmarked view is not drawn again";
    EXPECT_FALSE(root->hasChanges());
    leaf->setNeedsDisplay();
    leaf->setNeedsDisplay();
    EXPECT_EQ(leaf->drawCount, 1) << "setNeedsDisplay only marks";
    EXPECT_TRUE(root->hasChanges());
    compositor.render(*root);
    EXPECT_EQ(leaf->drawCount, 2);
    leaf->layer().setValueForKeyPath(1.0f, "transform.translation.y");
    EXPECT_TRUE(root->hasChanges()) << "a moved layer is a change too";
}

TEST(ViewTest, ImageViewWithoutImageShowsNothing) {
    auto image = std::make_shared<platform::ImageView>(Rect(0, 0, 8, 8));
    image->setImage(std::make_shared<const platform::Image>(testing_support::paintedSurface(4, 4, 1, 0, 0)));
    Compositor compositor(Size{8, 8}, 1);
    compositor.render(*image);
    ASSERT_EQ(pixelAt(compositor.surface(), 4, 4).r, 255);
    image->setImage(nullptr);
    compositor.render(*image);
    EXPECT_EQ(pixelAt(compositor.surface(), 4, 4).a, 0) << "no stale picture";
}

// A background is left out where an opaque subview covers it; that must never show: the frame
// equals one where the background is an ordinary view of its own beneath the subview.
TEST(ViewTest, CoveredBackgroundLooksAsIfPaintedWhole) {
    const Color red{1, 0, 0, 1};
    const auto turned = [&] {
        auto view = coloured(Rect(5, 4, 20, 10), red);
        view->layer().setValueForKeyPath(0.3f, "transform.rotation.z");
        return view;
    };
    const auto hidden = [&] {
        auto view = coloured(Rect(5, 4, 20, 10), red);
        view->setHidden(true);
        return view;
    };
    const auto holding = [](Rect inner) {
        auto view = std::make_shared<View>(Rect(5, 4, 20, 10));
        view->addSubview(coloured(inner, Color{0, 1, 0, 1}));
        return view;
    };
    const std::pair<const char*, std::function<std::shared_ptr<View>()>> cases[] = {
        {"opaque", [&] { return coloured(Rect(5, 4, 20, 10), red); }},
        {"translucent", [] { return coloured(Rect(5, 4, 20, 10), Color{1, 0, 0, 0.5}); }},
        {"hidden", hidden},
        {"turned", turned},
        {"between pixels", [&] { return coloured(Rect(5.25f, 4.5f, 20, 10), red); }},
        {"past the edge", [&] { return coloured(Rect(-5, 20, 60, 30), red); }},
        {"covered by its own child", [&] { return holding(Rect(-1, -1, 22, 12)); }},
        {"a child that misses a corner", [&] { return holding(Rect(1, 0, 19, 10)); }},
    };
    const Color blue{0.1, 0.2, 0.9, 1.0};
    for (const auto& [name, makeChild] : cases) {
        auto withHole = coloured(Rect(0, 0, 40, 30), blue);
        withHole->addSubview(makeChild());
        auto painted = std::make_shared<View>(Rect(0, 0, 40, 30));
        painted->addSubview(coloured(Rect(0, 0, 40, 30), blue));
        painted->addSubview(makeChild());
        for (const int scale : {1, 2}) {
            SCOPED_TRACE(std::string(name) + " at scale " + std::to_string(scale));
            Compositor expected(Size{40, 30}, scale);
            expected.render(*painted);
            Compositor actual(Size{40, 30}, scale);
            actual.render(*withHole);
            EXPECT_TRUE(testing_support::samePixels(expected.surface(), actual.surface()));
        }
    }
}
