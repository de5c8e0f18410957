#include "platform/ui/Compositor.h"
#include "platform/ui/View.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

namespace platform {
namespace {

constexpr Size kPoints{10.0f, 12.0f};
constexpr int kScale = 2;
constexpr int kWidth = 20;
constexpr int kHeight = 24;

std::uint32_t wordAt(cairo_surface_t* surface, int x, int y) {
    std::uint32_t word = 0;
    std::memcpy(&word, cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface) + 4 * x, 4);
    return word;
}

// A target still holding an earlier picture, as a window's pixels do between frames.
CairoSurfacePtr usedTarget() {
    CairoSurfacePtr target = makeImageSurface(kWidth, kHeight);
    CairoContextPtr cr = makeContext(target.get());
    cairo_set_source_rgba(cr.get(), 0.9, 0.1, 0.6, 0.8);
    cairo_paint(cr.get());
    return target;
}

// The root's frame and background: a root that covers the picture opaquely lets the compositor
// leave out clearing it first; every other one must not show what the target held before.
TEST(CompositorTargetTest, FrameInATargetEqualsAFrameComposedAfresh) {
    struct Case {
        const char* name;
        Rect frame;
        std::optional<Color> background;
    };
    const Case cases[] = {
        {"opaque, covering", Rect(0, 0, 10, 12), Color{0.2, 0.3, 0.4, 1.0}},
        {"opaque, larger than the picture", Rect(0, 0, 30, 30), Color{0.2, 0.3, 0.4, 1.0}},
        {"half transparent", Rect(0, 0, 10, 12), Color{0.2, 0.3, 0.4, 0.5}},
        {"no background", Rect(0, 0, 10, 12), std::nullopt},
        {"opaque, moved right", Rect(1, 0, 10, 12), Color{0.2, 0.3, 0.4, 1.0}},
        {"opaque, too narrow", Rect(0, 0, 9.75f, 12), Color{0.2, 0.3, 0.4, 1.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto makeTree = [&] {
            auto root = std::make_shared<View>(c.frame);
            root->setBackgroundColor(c.background);
            auto child = std::make_shared<View>(Rect(2, 3, 4, 5));
            child->setBackgroundColor(Color{1.0, 0.0, 0.0, 0.5});
            root->addSubview(child);
            return root;
        };
        Compositor fresh(kPoints, kScale);
        const std::shared_ptr<View> freshRoot = makeTree();
        fresh.render(*freshRoot);

        Compositor targeted(kPoints, kScale);
        CairoSurfacePtr target = usedTarget();
        cairo_surface_t* pixels = target.get();
        targeted.setTarget(std::move(target));
        ASSERT_EQ(targeted.surface(), pixels);
        const std::shared_ptr<View> root = makeTree();
        targeted.render(*root);

        int differing = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const std::uint32_t expected = wordAt(fresh.surface(), x, y);
                const std::uint32_t actual = wordAt(pixels, x, y);
                if (expected != actual && ++differing <= 3) {
                    ADD_FAILURE() << "pixel (" << x << ", " << y << "): expected " << std::hex << expected << ", got "
                                  << actual;
                }
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

TEST(CompositorTargetTest, TargetOfAnotherSizeOrFormatIsRefusedAndNullGoesBackToItsOwn) {
    Compositor compositor(kPoints, kScale);
    EXPECT_THROW(compositor.setTarget(makeImageSurface(kWidth + 1, kHeight)), std::invalid_argument);
    EXPECT_THROW(compositor.setTarget(makeImageSurface(kWidth, kHeight, CAIRO_FORMAT_RGB24)), std::invalid_argument);
    EXPECT_FALSE(compositor.hasTarget());

    compositor.setTarget(usedTarget());
    EXPECT_TRUE(compositor.hasTarget());
    compositor.setTarget(nullptr);
    EXPECT_FALSE(compositor.hasTarget());
    EXPECT_EQ(cairo_image_surface_get_width(compositor.surface()), kWidth);
    EXPECT_EQ(cairo_image_surface_get_height(compositor.surface()), kHeight);
}

} // namespace
} // namespace platform
