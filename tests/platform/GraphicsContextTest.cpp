#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/GraphicsContext.h"
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

struct BadPoint {
    const char* name;
    float x;
    float y;
};

void PrintTo(const BadPoint& c, std::ostream* os) { *os << c.name; }

class GraphicsContextBadPointTest : public testing::TestWithParam<BadPoint> {};

// A stroke through any float must leave the context usable: Cairo stops drawing for good once a
// context is in an error state.
TEST_P(GraphicsContextBadPointTest, ContextStaysUsable) {
    platform::CairoSurfacePtr surface = platform::makeImageSurface(40, 40);
    platform::CairoContextPtr cr = platform::makeContext(surface.get());
    GraphicsContext context(cr.get());
    context.setRGBStrokeColor(1, 0, 0, 1);
    context.setLineWidth(2);
    context.beginPath();
    context.moveToPoint(5, 5);
    context.addLineToPoint(GetParam().x, GetParam().y);
    context.addLineToPoint(5, 35);
    context.strokePath();
    ASSERT_EQ(cairo_status(cr.get()), CAIRO_STATUS_SUCCESS) << cairo_status_to_string(cairo_status(cr.get()));

    context.beginPath();
    context.moveToPoint(20, 20);
    context.addLineToPoint(35, 20);
    context.strokePath();
    EXPECT_EQ(pixelAt(surface.get(), 28, 20).r, 255) << "a later stroke still draws";
}

INSTANTIATE_TEST_SUITE_P(Coordinates, GraphicsContextBadPointTest,
                         testing::Values(BadPoint{"nan_x", kNaN, 20}, BadPoint{"nan_y", 20, kNaN},
                                         BadPoint{"inf_x", kInf, 20}, BadPoint{"minus_inf_x", -kInf, 20},
                                         BadPoint{"huge_x", 1e30f, 20}, BadPoint{"huge_y", 20, -3e38f}),
                         [](const testing::TestParamInfo<BadPoint>& info) { return info.param.name; });

// Strokes a red polyline, width 2, through `points` on a clear 40 x 10 surface.
platform::CairoSurfacePtr strokeLine(std::initializer_list<std::pair<float, float>> points) {
    platform::CairoSurfacePtr surface = platform::makeImageSurface(40, 10);
    platform::CairoContextPtr cr = platform::makeContext(surface.get());
    GraphicsContext context(cr.get());
    context.setRGBStrokeColor(1, 0, 0, 1);
    context.setLineWidth(2);
    context.beginPath();
    bool first = true;
    for (const auto& [x, y] : points) {
        first ? context.moveToPoint(x, y) : context.addLineToPoint(x, y);
        first = false;
    }
    context.strokePath();
    return surface;
}

TEST(GraphicsContextTest, NaNBreaksThePathInsteadOfDroppingIt) {
    const platform::CairoSurfacePtr surface = strokeLine({{0, 5}, {10, 5}, {kNaN, 5}, {30, 5}, {40, 5}});
    EXPECT_EQ(pixelAt(surface.get(), 5, 5).r, 255) << "before the gap";
    EXPECT_EQ(pixelAt(surface.get(), 20, 5).a, 0) << "no line through the missing point";
    EXPECT_EQ(pixelAt(surface.get(), 35, 5).r, 255) << "after the gap";
}

TEST(GraphicsContextTest, HugeCoordinateKeepsTheVisibleDirection) {
    // A line towards x = 1e30 at the same height must still run straight across the surface.
    const platform::CairoSurfacePtr surface = strokeLine({{0, 5}, {1e30f, 5}});
    EXPECT_EQ(pixelAt(surface.get(), 39, 5).r, 255);
    EXPECT_EQ(pixelAt(surface.get(), 39, 1).a, 0);
}

} // namespace
