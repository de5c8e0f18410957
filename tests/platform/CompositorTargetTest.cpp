#include "platform/ui/Compositor.h"
#include "platform/ui/View.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>

namespace platform {
namespace {

constexpr Size kPoints{10.0f, 12.0f};
constexpr int kScale = 2;

// A target still holding an earlier picture, as a window's pixels do between frames.
CairoSurfacePtr usedTarget() { return testing_support::paintedSurface(20, 24, 0.9, 0.1, 0.6, 0.8); }

// The root's frame and background: a root that covers the picture opaquely lets the compositor
// leave out clearing it first; every other one must not show what the target held before.
TEST(CompositorTargetTest, FrameInATargetEqualsAFrameComposedAfresh) {
    const Color opaque{0.2, 0.3, 0.4, 1.0};
    const struct {
        const char* name;
        Rect frame;
        std::optional<Color> background;
    } cases[] = {
        {"opaque, covering", Rect(0, 0, 10, 12), opaque},
        {"opaque, larger than the picture", Rect(0, 0, 30, 30), opaque},
        {"half transparent", Rect(0, 0, 10, 12), Color{0.2, 0.3, 0.4, 0.5}},
        {"no background", Rect(0, 0, 10, 12), std::nullopt},
        {"opaque, moved right", Rect(1, 0, 10, 12), opaque},
        {"opaque, too narrow", Rect(0, 0, 9.75f, 12), opaque},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto root = std::make_shared<View>(c.frame);
        root->setBackgroundColor(c.background);
        auto child = std::make_shared<View>(Rect(2, 3, 4, 5));
        child->setBackgroundColor(Color{1.0, 0.0, 0.0, 0.5});
        root->addSubview(child);
        Compositor fresh(kPoints, kScale);
        fresh.render(*root);
        Compositor targeted(kPoints, kScale);
        targeted.setTarget(usedTarget()); // surface() is then the target
        targeted.render(*root);
        EXPECT_TRUE(testing_support::samePixels(fresh.surface(), targeted.surface()));
    }
}

TEST(CompositorTargetTest, TargetOfAnotherSizeOrFormatIsRefusedAndNullGoesBackToItsOwn) {
    Compositor compositor(kPoints, kScale);
    EXPECT_THROW(compositor.setTarget(makeImageSurface(21, 24)), std::invalid_argument);
    EXPECT_THROW(compositor.setTarget(makeImageSurface(20, 24, CAIRO_FORMAT_RGB24)), std::invalid_argument);
    EXPECT_FALSE(compositor.hasTarget());
    compositor.setTarget(usedTarget());
    EXPECT_TRUE(compositor.hasTarget());
    compositor.setTarget(nullptr);
    EXPECT_FALSE(compositor.hasTarget());
    EXPECT_EQ(cairo_image_surface_get_width(compositor.surface()), 20);
}

} // namespace
} // namespace platform
