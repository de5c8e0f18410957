#include "Classes/GraphView.h"
#include "platform/ui/Compositor.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

using platform::Point;
using platform::Rect;
using testing_support::pixelAt;

namespace {

constexpr float kW = 320.0f;
constexpr float kH = 291.0f;

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

std::array<Point, 200> polylineOf(const GraphView& view) {
    return GraphView::tracePolyline(view.history(), view.nextIndex(), view.bounds().size.width,
                                    view.bounds().size.height);
}

struct CountingGraphView : GraphView {
    using GraphView::GraphView;
    void drawRect(platform::GraphicsContext& context, const Rect& rect) override {
        ++drawCount;
        GraphView::drawRect(context, rect);
    }
    int drawCount = 0;
};

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
    EXPECT_EQ(bits(points[1].y), 0x4390c4d3u) << points[1].y;
    EXPECT_EQ(bits(points[198].y), 0x3fbb2d00u) << points[198].y;
}

TEST(GraphViewTest, ValuesMapLinearlyAcrossTheWidth) {
    struct Case {
        float value;
        float x;
    };
    for (const Case& c : {Case{0.25f, 200.0f}, Case{-0.5f, 80.0f}, Case{2.0f, 480.0f}, Case{-1.0f, 0.0f},
                          Case{1.0f, 320.0f}}) {
        GraphView view(Rect(0, 0, kW, kH));
        view.updateHistory(c.value);
        EXPECT_EQ(polylineOf(view)[199].x, c.x) << "value " << c.value;
    }
}

TEST(GraphViewTest, RingWrapsAndKeepsOldestAtTheBottom) {
    GraphView view(Rect(0, 0, kW, kH));
    view.updateHistory(1.0f);
    EXPECT_EQ(view.nextIndex(), 1u);
    std::array<Point, 200> points = polylineOf(view);
    EXPECT_EQ(points[199].x, kW);
    EXPECT_EQ(points[199].y, 0.0f);
    EXPECT_EQ(points[198].x, 160.0f);
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

TEST(GraphViewTest, ValuesAreStoredAsTheyArrive) {
    GraphView view(Rect(0, 0, kW, kH));
    const float values[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f,
                            -0.0f};
    for (float v : values) {
        view.updateHistory(v);
    }
    EXPECT_TRUE(std::isnan(view.history()[0]));
    EXPECT_EQ(view.history()[1], std::numeric_limits<float>::infinity());
    EXPECT_EQ(view.history()[2], 1e30f);
    EXPECT_EQ(bits(view.history()[3]), bits(-0.0f));
}

TEST(GraphViewTest, ManyAppendsBeforeAPassGiveOneRedraw) {
    auto view = std::make_shared<CountingGraphView>(Rect(0, 0, kW, kH));
    platform::Compositor compositor(platform::Size{kW, kH}, 1);
    compositor.render(*view);
    const int before = view->drawCount;
    for (int i = 0; i < 5; ++i) {
        view->updateHistory(0.1f * i);
    }
    compositor.render(*view);
    EXPECT_EQ(view->drawCount, before + 1);
}

// A stored NaN, infinity or huge value must not break this frame or any later one.
TEST(GraphViewTest, NonFiniteAndHugeValuesNeverBreakDrawing) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), 1e30f, -1e30f,
                         std::numeric_limits<float>::max()};
    for (float value : bad) {
        auto view = std::make_shared<GraphView>(Rect(0, 0, kW, kH));
        platform::Compositor compositor(platform::Size{kW, kH}, 1);
        for (int i = 0; i < 100; ++i) {
            view->updateHistory(0.5f);
        }
        view->updateHistory(value);
        compositor.render(*view);
        // The 0.5 stretch before the bad value still shows at x = 240.
        EXPECT_GT(pixelAt(compositor.surface(), 240, 100).a, 100) << "value " << value;
        for (int i = 0; i < 50; ++i) {
            view->updateHistory(-0.5f);
            compositor.render(*view);
        }
        EXPECT_GT(pixelAt(compositor.surface(), 80, 10).a, 100) << "later frames after " << value;
    }
}

// Each pass clears only what the last one inked: a wide trace that narrows must leave nothing behind.
TEST(GraphViewTest, RedrawLeavesNoStaleInk) {
    auto view = std::make_shared<GraphView>(Rect(0, 0, kW, kH));
    platform::Compositor compositor(platform::Size{kW, kH}, 2);
    for (int i = 0; i < 200; ++i) {
        view->updateHistory(i % 2 == 0 ? 0.9f : -0.9f);
    }
    compositor.render(*view);
    ASSERT_GT(pixelAt(compositor.surface(), 2 * 300, 2 * 150).a, 0) << "the wide trace reaches x = 300";
    for (int i = 0; i < 200; ++i) {
        view->updateHistory(0.0f);
    }
    compositor.render(*view);
    int stale = 0;
    for (int y = 0; y < 2 * 291; y += 3) {
        for (int x = 0; x < 2 * 320; x += 3) {
            if (std::abs(x - 320) > 8) {
                stale += pixelAt(compositor.surface(), x, y).a != 0;
            }
        }
    }
    EXPECT_EQ(stale, 0);
}
