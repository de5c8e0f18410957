#include "Classes/GraphView.h"

#include <array>
#include <bit>
#include <cstdint>
#include <gtest/gtest.h>

using platform::Point;
using platform::Rect;

namespace {

constexpr float kW = 320.0f;
constexpr float kH = 291.0f;

std::array<Point, 200> polylineOf(const GraphView& view) {
    return GraphView::tracePolyline(view.history(), view.nextIndex(), view.bounds().size.width,
                                    view.bounds().size.height);
}

} // namespace

TEST(GraphViewTest, FreshViewPlotsTheCentreLineEdgeToEdge) {
    GraphView view(Rect(0, 120, kW, kH));
    EXPECT_EQ(view.nextIndex(), 0u);
    const std::array<Point, 200> points = polylineOf(view);
    for (const Point& p : points) {
        ASSERT_EQ(p.x, 160.0f);
    }
    EXPECT_EQ(points[0].y, 291.0f);
    EXPECT_EQ(points[199].y, 0.0f);
    // The spacing is H / 199 in single precision: 289.537689 and 1.46231079.
    EXPECT_EQ(std::bit_cast<std::uint32_t>(points[1].y), 0x4390c4d3u) << points[1].y;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(points[198].y), 0x3fbb2d00u) << points[198].y;
}

TEST(GraphViewTest, RingWrapsAndKeepsOldestAtTheBottom) {
    // Values map linearly across the width, unclipped: -1 and 1 are the edges.
    GraphView view(Rect(0, 0, kW, kH));
    for (const auto& [value, x] :
         {std::pair{-0.5f, 80.0f}, std::pair{-1.0f, 0.0f}, std::pair{2.0f, 480.0f}}) {
        view.updateHistory(value);
        EXPECT_EQ(polylineOf(view)[199].x, x) << "value " << value;
    }
    EXPECT_EQ(view.nextIndex(), 3u);
    std::array<Point, 200> points = polylineOf(view);
    EXPECT_EQ(points[196].x, 160.0f);
    EXPECT_EQ(points[0].x, 160.0f);

    // Value k / 256 puts x exactly at 160 + 0.625 k, so each point names the append it came from:
    // the newest on top, the oldest at the bottom, and 199 wraps to 0, never 200.
    GraphView ring(Rect(0, 0, kW, kH));
    const auto xOf = [](int k) { return 160.0f + 0.625f * static_cast<float>(k); };
    for (int k = 1; k <= 201; ++k) {
        ring.updateHistory(static_cast<float>(k) / 256.0f);
        points = polylineOf(ring);
        ASSERT_EQ(ring.nextIndex(), k % 200u) << "after append " << k;
        ASSERT_EQ(points[0].x, k < 200 ? 160.0f : xOf(k - 199)) << "the oldest, after append " << k;
        ASSERT_EQ(points[199].x, xOf(k)) << "the newest, after append " << k;
    }
}
