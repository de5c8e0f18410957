#include "tests/support/Pixels.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <limits>
#include <utility>

using platform::GraphicsContext;
using testing_support::pixelAt;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Strokes red polylines of width 2 (round joins and caps when `round`) through each of `lines`
// on a clear 40 x 40 picture, composed onto a surface of that size.
platform::CairoSurfacePtr
strokeLines(std::initializer_list<std::initializer_list<std::pair<float, float>>> lines, bool round) {
    return testing_support::composedPicture(40, 40, 1, [&](GraphicsContext& context) {
        context.setRGBStrokeColor(1, 0, 0, 1);
        context.setLineWidth(2);
        if (round) {
            context.setLineJoin(platform::LineJoin::Round);
            context.setLineCap(platform::LineCap::Round);
        }
        for (const auto& points : lines) {
            for (const auto& [x, y] : points) {
                context.addLineToPoint(x, y); // the first of a path moves to its point
            }
            context.strokePath();
        }
    });
}

// Any float may reach a path: each renderer's route (Cairo's stroker for a miter join, the
// coverage for a round pen) must break the path at a NaN, keep the visible direction of a huge or
// infinite coordinate, and still draw the stroke after.
TEST(GraphicsContextTest, AnyFloatLeavesTheDrawingUsable) {
    const struct {
        const char* name;
        float x, y;
    } cases[] = {{"nan_x", kNaN, 20},        {"nan_y", 20, kNaN},   {"inf_x", kInf, 20},
                 {"minus_inf_x", -kInf, 20}, {"huge_x", 1e30f, 20}, {"huge_y", 20, -3e38f}};
    for (const bool round : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (round ? ", round" : ", miter"));
            const platform::CairoSurfacePtr surface =
                strokeLines({{{5, 5}, {c.x, c.y}, {5, 35}}, {{20, 20}, {35, 20}}}, round);
            EXPECT_EQ(pixelAt(surface.get(), 28, 20).r, 255) << "a later stroke still draws";
        }
        SCOPED_TRACE(round ? "round" : "miter");
        const platform::CairoSurfacePtr broken =
            strokeLines({{{0, 5}, {10, 5}, {kNaN, 5}, {30, 5}, {40, 5}}}, round);
        EXPECT_EQ(pixelAt(broken.get(), 5, 5).r, 255) << "before the gap";
        EXPECT_EQ(pixelAt(broken.get(), 20, 5).a, 0) << "no line through the missing point";
        EXPECT_EQ(pixelAt(broken.get(), 35, 5).r, 255) << "after the gap";
        const platform::CairoSurfacePtr huge = strokeLines({{{0, 5}, {1e30f, 5}}}, round);
        EXPECT_EQ(pixelAt(huge.get(), 39, 5).r, 255) << "straight across";
        EXPECT_EQ(pixelAt(huge.get(), 39, 1).a, 0);
    }
}

} // namespace
