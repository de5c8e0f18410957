#include "Classes/TremView.h"
#include "platform/ui/Compositor.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

using platform::Rect;
using platform::Size;
using testing_support::pixelAt;
using testing_support::Rgba;

namespace {

constexpr Rect kPage(0, 0, 320, 411);

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

bool isInk(Rgba c) { return c.b > c.r + 100 && c.b > c.g + 60; }

} // namespace

// The paper offset follows the write position only, computed as s - Hg; the rearranged
// ((n + 1) / 200 - 1) * Hg rounds differently at n = 5 and 9, among others.
TEST(TremViewTest, PaperOffsetFollowsTheWritePosition) {
    const struct {
        int appends;
        std::uint32_t nextIndex;
        std::uint32_t offsetBits;
    } cases[] = {
        {0, 0, 0xc3918000u},     // -291: a fresh page
        {1, 1, 0xc3900b85u},     // -288.09
        {2, 2, 0xc38f5148u},     // -286.635
        {5, 5, 0xc38d228fu},     // -282.27 (written order)
        {9, 9, 0xc38a399au},     // -276.45 (written order)
        {100, 100, 0xc3100b85u}, // -144.045
        {199, 199, 0x00000000u}, // 0
        {200, 0, 0xc390c5c3u},   // wrap: -289.545
    };
    for (const auto& c : cases) {
        TremView page(kPage);
        EXPECT_EQ(page.subviews(), (std::vector<std::shared_ptr<platform::View>>{
                                       page.paperView(), page.graphView(), page.shadowView(), page.needleView()}));
        for (int i = 0; i < c.appends; ++i) {
            page.handleMove(i % 2 == 0 ? 0.7f : -3.0f);
        }
        const float offset = page.paperView()->layer().translation().y;
        EXPECT_EQ(page.graphView()->nextIndex(), c.nextIndex);
        EXPECT_EQ(bits(offset), c.offsetBits) << "after " << c.appends << " appends: " << offset;
    }
}

TEST(TremViewTest, NeedleAngleIsMinusEighteenDegreesPerUnit) {
    const std::pair<float, std::uint32_t> cases[] = {
        {1.0f, 0xbea0d97cu}, {-1.0f, 0x3ea0d97cu}, {0.5f, 0xbe20d97cu}, {5.0f, 0xbfc90fdbu},
        {0.0f, 0x80000000u}, // -0: 0 x -18
    };
    for (const auto& [value, angleBits] : cases) {
        TremView page(kPage);
        page.handleMove(0.3f);
        page.handleMove(value);
        const float angle = page.needleView()->layer().rotationZ();
        EXPECT_EQ(bits(angle), angleBits) << "value " << value << ": " << angle;
    }
}

// Composed into a larger window, nothing of the page's layers may show outside it: neither the
// needle, which hangs from a pivot above the page, nor a trace beyond the page's right edge.
TEST(TremViewTest, NothingShowsOutsideThePage) {
    auto window = std::make_shared<platform::View>(Rect(0, 0, 400, 500));
    auto page = std::make_shared<TremView>(Rect(0, 60, 320, 411));
    window->addSubview(page);
    for (int i = 0; i < 200; ++i) {
        page->handleMove(i < 100 ? 0.0f : 2.0f);
    }
    platform::Compositor compositor(Size{400, 500}, 1);
    compositor.render(*window);
    int outside = 0;
    for (int y = 0; y < 500; ++y) {
        for (int x = 0; x < 400; ++x) {
            outside += (y < 60 || y >= 471 || x >= 320) && pixelAt(compositor.surface(), x, y).a != 0;
        }
    }
    EXPECT_EQ(outside, 0);
    // The stroke out to x = 480 crosses the page and meets its right edge.
    EXPECT_TRUE(isInk(pixelAt(compositor.surface(), 318, 325))) << pixelAt(compositor.surface(), 318, 325);
}

TEST(TremViewTest, NonFiniteValueHidesOnlyTheNeedleForThatValue) {
    TremView page(kPage);
    platform::Compositor compositor(kPage.size, 1);
    page.handleMove(std::numeric_limits<float>::quiet_NaN());
    compositor.render(page);
    EXPECT_FALSE(isInk(pixelAt(compositor.surface(), 200, 300))) << "the paper still draws";
    // The needle is back with the next finite value: the page differs from one without it.
    page.handleMove(0.0f);
    platform::Compositor with(kPage.size, 1);
    with.render(page);
    page.needleView()->setHidden(true);
    compositor.render(page);
    EXPECT_GT(testing_support::differenceOf(with.surface(), compositor.surface(), 2).off, 100);
}
