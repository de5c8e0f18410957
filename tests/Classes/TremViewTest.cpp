#include "Classes/TremView.h"
#include "platform/ui/Compositor.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

using platform::Rect;
using platform::Size;
using testing_support::pixelAt;
using testing_support::Rgba;

namespace {

constexpr Rect kPage(0, 0, 320, 411);

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

float paperOffsetOf(const TremView& view) { return view.paperView()->layer().translation().y; }
float needleAngleOf(const TremView& view) { return view.needleView()->layer().rotationZ(); }

bool isInk(Rgba c) { return c.b > c.r + 100 && c.b > c.g + 60; }

// Device pixels where two composed pages differ.
int differenceOf(cairo_surface_t* a, cairo_surface_t* b) {
    int count = 0;
    for (int y = 0; y < cairo_image_surface_get_height(a); ++y) {
        for (int x = 0; x < cairo_image_surface_get_width(a); ++x) {
            const Rgba p = pixelAt(a, x, y);
            const Rgba q = pixelAt(b, x, y);
            count += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 6;
        }
    }
    return count;
}

// The needle's footprint: the page with the needle against the same page without it.
int needleFootprint(TremView& page) {
    platform::Compositor with(kPage.size, 1);
    platform::Compositor without(kPage.size, 1);
    with.render(page);
    page.needleView()->setHidden(true);
    without.render(page);
    page.needleView()->setHidden(false);
    return differenceOf(with.surface(), without.surface());
}

} // namespace

TEST(TremViewTest, BuildsThePageInStackingOrder) {
    TremView page(kPage);
    ASSERT_EQ(page.subviews().size(), 4u);
    EXPECT_EQ(page.subviews()[0], page.paperView());
    EXPECT_EQ(page.subviews()[1], page.graphView());
    EXPECT_EQ(page.subviews()[2], page.shadowView());
    EXPECT_EQ(page.subviews()[3], page.needleView());
    EXPECT_TRUE(page.clipsToBounds());
    EXPECT_EQ(page.graphView()->frame(), Rect(0, 120, 320, 291));
    EXPECT_FALSE(page.graphView()->isOpaque());
    EXPECT_EQ(page.paperView()->frame().size, (Size{320, 860}));
    EXPECT_EQ(page.shadowView()->frame(), kPage);
    EXPECT_EQ(page.needleView()->frame(), Rect(142.5f, -123.0f, 33.0f, 248.0f));
    EXPECT_EQ(paperOffsetOf(page), -291.0f);
    EXPECT_EQ(needleAngleOf(page), 0.0f);
    for (const auto& image : {page.paperView(), page.needleView(), page.shadowView()}) {
        EXPECT_NE(image->image(), nullptr) << "resource images load";
    }
}

// The paper offset follows the write position only, computed as s - Hg; the rearranged
// ((n + 1) / 200 - 1) * Hg rounds differently at n = 5 and 9, among others.
TEST(TremViewTest, PaperOffsetFollowsTheWritePosition) {
    struct Case {
        int appends;
        std::uint32_t nextIndex;
        std::uint32_t offsetBits;
    };
    const Case cases[] = {
        {1, 1, 0xc3900b85u},   // -288.09
        {2, 2, 0xc38f5148u},   // -286.635
        {5, 5, 0xc38d228fu},   // -282.27 (written order)
        {9, 9, 0xc38a399au},   // -276.45 (written order)
        {100, 100, 0xc3100b85u}, // -144.045
        {199, 199, 0x00000000u}, // 0
        {200, 0, 0xc390c5c3u},   // wrap: -289.545
    };
    for (const Case& c : cases) {
        TremView page(kPage);
        for (int i = 0; i < c.appends; ++i) {
            page.handleMove(i % 2 == 0 ? 0.7f : -3.0f);
        }
        EXPECT_EQ(page.graphView()->nextIndex(), c.nextIndex);
        EXPECT_EQ(bits(paperOffsetOf(page)), c.offsetBits)
            << "after " << c.appends << " appends: " << paperOffsetOf(page);
    }
}

TEST(TremViewTest, NeedleAngleIsMinusEighteenDegreesPerUnit) {
    struct Case {
        float value;
        std::uint32_t angleBits;
    };
    for (const Case& c : {Case{1.0f, 0xbea0d97cu}, Case{-1.0f, 0x3ea0d97cu}, Case{0.5f, 0xbe20d97cu},
                          Case{5.0f, 0xbfc90fdbu}, Case{0.0f, 0x80000000u /* -0: 0 x -18 */}}) {
        TremView page(kPage);
        page.handleMove(0.3f);
        page.handleMove(c.value);
        EXPECT_EQ(bits(needleAngleOf(page)), c.angleBits) << "value " << c.value << ": " << needleAngleOf(page);
    }
}

TEST(TremViewTest, TraceBeyondTheEdgeIsCutAtThePage) {
    // Composed onto a wider surface, nothing of the trace may spill past the page's right edge.
    auto window = std::make_shared<platform::View>(Rect(0, 0, 400, 411));
    auto page = std::make_shared<TremView>(kPage);
    window->addSubview(page);
    for (int i = 0; i < 100; ++i) {
        page->handleMove(0.0f);
    }
    for (int i = 0; i < 100; ++i) {
        page->handleMove(2.0f);
    }
    platform::Compositor compositor(Size{400, 411}, 1);
    compositor.render(*window);
    int inkOutside = 0;
    for (int y = 0; y < 411; ++y) {
        for (int x = 321; x < 400; ++x) {
            inkOutside += pixelAt(compositor.surface(), x, y).a != 0;
        }
    }
    EXPECT_EQ(inkOutside, 0);
    // The stroke out to x = 480 crosses the page and meets its right edge.
    EXPECT_TRUE(isInk(pixelAt(compositor.surface(), 318, 265))) << pixelAt(compositor.surface(), 318, 265);
}

TEST(TremViewTest, NonFiniteValueHidesOnlyTheNeedleForThatValue) {
    TremView page(kPage);
    platform::Compositor compositor(kPage.size, 1);
    page.handleMove(std::numeric_limits<float>::quiet_NaN());
    compositor.render(page);
    EXPECT_FALSE(isInk(pixelAt(compositor.surface(), 200, 300))) << "the paper still draws";
    page.handleMove(0.0f);
    EXPECT_GT(needleFootprint(page), 100) << "the needle is back with the next finite value";
}
