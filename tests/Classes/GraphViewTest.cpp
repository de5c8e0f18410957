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

    // Value k / 256 puts x exactly at 160 + 0.625 k, so each point names the append it came from.
    GraphView ring(Rect(0, 0, kW, kH));
    auto valueOf = [](int k) { return static_cast<float>(k) / 256.0f; };
    auto xOf = [](int k) { return 160.0f + 0.625f * static_cast<float>(k); };
    for (int k = 1; k <= 199; ++k) {
        ring.updateHistory(valueOf(k));
    }
    EXPECT_EQ(ring.nextIndex(), 199u);
    ring.updateHistory(valueOf(200));
    EXPECT_EQ(ring.nextIndex(), 0u) << "199 wraps to 0, never 200";
    points = polylineOf(ring);
    EXPECT_EQ(points[0].x, xOf(1)) << "oldest is the first append";
    EXPECT_EQ(points[199].x, xOf(200)) << "newest is the 200th";
    ring.updateHistory(valueOf(201));
    EXPECT_EQ(ring.nextIndex(), 1u);
    points = polylineOf(ring);
    EXPECT_EQ(points[0].x, xOf(2)) << "the first value is gone";
    EXPECT_EQ(points[199].x, xOf(201));
}
