#include "platform/ui/Compositor.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/TouchRouter.h"
#include "platform/ui/View.h"
#include "tests/support/Pixels.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

namespace platform {

using testing_support::pixelAt;
using testing_support::Rgba;

namespace {

Point centreOf(const Rect& r) {
    return Point{r.minX() + r.size.width / 2.0f, r.minY() + r.size.height / 2.0f};
}

// How many pixels of `surface` inside `area` (device pixels) match.
int inkIn(cairo_surface_t* surface, const Rect& area, const std::function<bool(Rgba)>& isInk) {
    int count = 0;
    for (int y = int(area.minY()); y < int(area.maxY()); ++y) {
        for (int x = int(area.minX()); x < int(area.maxX()); ++x) {
            count += isInk(pixelAt(surface, x, y)) ? 1 : 0;
        }
    }
    return count;
}

const auto isWhitish = [](Rgba c) { return c.r > 220 && c.g > 220 && c.b > 220 && c.a > 200; };
const auto isTintBlue = [](Rgba c) { return c.b > 180 && c.r < 90 && c.a > 200; };

// Pause, flexible space, Settings: the recorder page's bar, with click counters.
struct RecorderBar {
    std::shared_ptr<Toolbar> toolbar = std::make_shared<Toolbar>(Rect(0, 0, 320, 49));
    int runClicks = 0;
    int settingsClicks = 0;
    std::shared_ptr<BarButtonItem> run =
        std::make_shared<BarButtonItem>("Pause", BarButtonItemStyle::Bordered, [this] { ++runClicks; });
    std::shared_ptr<BarButtonItem> settings = std::make_shared<BarButtonItem>(
        "Settings", BarButtonItemStyle::Bordered, [this] { ++settingsClicks; });

    RecorderBar() {
        run->setWidth(70);
        settings->setWidth(100);
        toolbar->setItems({run, std::make_shared<BarButtonItem>(BarButtonSystemItem::FlexibleSpace), settings});
    }
};

// ---- hit-testing

TEST(HitTestTest, FindsTheFrontmostInteractiveViewWhereItIsDrawn) {
    const std::tuple<const char*, Rect, const char*> tree[] = {
        {"back", Rect(0, 0, 60, 60), "root"},   {"front", Rect(40, 40, 40, 40), "root"},
        {"inner", Rect(5, 5, 10, 10), "front"}, {"moved", Rect(0, 80, 10, 10), "root"},
        {"turned", Rect(0, 0, 20, 40), "root"}, {"hidden", Rect(0, 90, 10, 10), "root"},
        {"inert", Rect(90, 0, 10, 10), "root"}, {"inertChild", Rect(0, 0, 10, 10), "inert"}};
    std::map<std::string, std::shared_ptr<View>> views{
        {"root", std::make_shared<View>(Rect(0, 0, 100, 100))}};
    for (const auto& [name, frame, parent] : tree) {
        views[name] = std::make_shared<View>(frame);
        views[parent]->addSubview(views[name]);
    }
    views["moved"]->layer().setValueForKeyPath(85, "transform.translation.x"); // root (85..95, 80..90)
    // Hanging from (40, 70) and given a quarter turn: it lies across x 0..40, y 60..80.
    views["turned"]->layer().setAnchorPoint(Point{0.5f, 0.0f});
    views["turned"]->layer().setPosition(Point{40, 70});
    views["turned"]->layer().setValueForKeyPath(std::numbers::pi_v<float> / 2, "transform.rotation.z");
    views["hidden"]->setHidden(true);
    views["inert"]->setUserInteractionEnabled(false);

    const struct {
        Point point;
        const char* expected;
    } cases[] = {
        {{20, 20}, "back"},   {{58, 58}, "front"}, {{50, 50}, "inner"}, // front over back, deepest wins
        {{90, 85}, "moved"},  {{5, 85}, "root"},                        // where it moved, not where it was
        {{20, 70}, "turned"}, {{45, 95}, "root"},                       // turned, not upright
        {{5, 95}, "root"},    {{95, 5}, "root"},                        // hidden; interaction off
        {{150, 50}, "none"},
    };
    for (const auto& c : cases) {
        const View* hit = views["root"]->hitTest(c.point);
        const auto found =
            std::ranges::find_if(views, [&](const auto& entry) { return entry.second.get() == hit; });
        EXPECT_EQ(found == views.end() ? "none" : found->first, c.expected)
            << "at (" << c.point.x << ", " << c.point.y << ")";
    }
}

// ---- toolbar buttons

TEST(TitleFitTest, TitlesTooLongForTheirButtonOrSegmentAreDrawnSmallerNotCut) {
    // Buttons that fit titles wider than their bar give up room alike and stay inside it.
    RecorderBar bar;
    for (const auto& item : {bar.run, bar.settings}) {
        item->setWidth(0);
        item->setTitle("Einstellungen speichern und schließen");
    }
    EXPECT_LE(bar.toolbar->frameForItem(2).maxX(), 314.0f);
    EXPECT_GT(bar.toolbar->frameForItem(0).size.width, 60.0f);

    // Pixel rows under the title of `segment`: fewer than where it fits; a cut one stands as tall.
    const auto titleRows = [](const std::vector<std::string>& titles, std::size_t segment) {
        const auto control = std::make_shared<SegmentedControl>(Rect(0, 0, 300, 30), titles);
        Compositor picture(Size{300, 30}, 1);
        picture.render(*control);
        const Rect f = control->frameForSegment(segment);
        int rows = 0;
        for (int y = 2; y < 28; ++y) {
            rows += inkIn(picture.surface(), Rect(f.minX() + 2, float(y), f.size.width - 4, 1),
                          [](Rgba c) { return c.b - c.r > 60; }) > 0;
        }
        return rows;
    };
    const int squeezed = titleRows({"A", "Sehr lange Beschriftung", "B"}, 1);
    EXPECT_LT(squeezed, titleRows({"Sehr lange Beschriftung"}, 0)) << "the long title was not set smaller";
    EXPECT_GT(squeezed, 3) << "the long title was not drawn";
}

TEST(ToolbarTest, ActionFiresOnlyForAReleaseOnThePressedEnabledButton) {
    constexpr std::size_t kOff = 99; // a point off the bar
    const struct {
        const char* what;
        std::size_t pressOn, releaseOn; // item indexes
        bool runEnabled;
        int runClicks;
    } cases[] = {
        {"click", 0, 0, true, 1},
        {"slide to the other button", 0, 2, true, 0},
        {"release off the bar", 0, kOff, true, 0},
        {"press off the bar", kOff, 0, true, 0},
        {"disabled", 0, 0, false, 0},
        {"flexible space", 1, 1, true, 0},
    };
    for (const auto& c : cases) {
        // The bar sits at the bottom of a page, so root and toolbar points differ.
        auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
        RecorderBar bar;
        bar.toolbar->setFrame(Rect(0, 431, 320, 49));
        root->addSubview(bar.toolbar);
        bar.run->setEnabled(c.runEnabled);
        const auto pointFor = [&](std::size_t index) {
            return index == kOff
                       ? Point{160, 200}
                       : convertPoint(centreOf(bar.toolbar->frameForItem(index)), *bar.toolbar, nullptr);
        };
        TouchRouter router(*root);
        router.press(pointFor(c.pressOn));
        router.release(pointFor(c.releaseOn));
        EXPECT_EQ(bar.runClicks, c.runClicks) << c.what;
        EXPECT_EQ(bar.settingsClicks, 0) << c.what;
        EXPECT_FALSE(bar.toolbar->isItemHighlighted(0)) << c.what;
    }
}

TEST(ToolbarTest, ItemChangesRedrawOnlyTheBarThatShowsThem) {
    const std::vector<std::function<void(BarButtonItem&)>> changes{
        [](BarButtonItem& i) { i.setTitle("Resume"); },
        [](BarButtonItem& i) { i.setStyle(BarButtonItemStyle::Done); },
        [](BarButtonItem& i) { i.setEnabled(false); },
        [](BarButtonItem& i) { i.setWidth(90); },
    };
    for (std::size_t n = 0; n < changes.size(); ++n) {
        RecorderBar bar;
        std::uint64_t drawn = bar.toolbar->displayGeneration();
        changes[n](*bar.run);
        EXPECT_NE(bar.toolbar->displayGeneration(), drawn) << "change " << n;
        bar.toolbar->setItems({bar.settings});
        drawn = bar.toolbar->displayGeneration();
        changes[n](*bar.run);
        EXPECT_EQ(bar.toolbar->displayGeneration(), drawn)
            << "change " << n << ": a replaced item still points at the bar";
    }
    // An item that outlives its bar must not reach back into it.
    auto survivor = std::make_shared<BarButtonItem>("Pause", BarButtonItemStyle::Bordered, nullptr);
    std::make_shared<Toolbar>(Rect(0, 0, 320, 49))->setItems({survivor});
    EXPECT_EQ(survivor->toolbar(), nullptr);
    survivor->setTitle("Resume");
}

TEST(ToolbarTest, StylesAndStatesLookDifferent) {
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 0, 320, 49));
    auto disabled = std::make_shared<BarButtonItem>("Resume", BarButtonItemStyle::Bordered, nullptr);
    disabled->setEnabled(false);
    toolbar->setItems({std::make_shared<BarButtonItem>("Pause", BarButtonItemStyle::Bordered, nullptr),
                       std::make_shared<BarButtonItem>("Save", BarButtonItemStyle::Done, nullptr), disabled});
    Compositor compositor(Size{320, 49}, 2);
    compositor.render(*toolbar);
    Rgba fill[3];
    int titleInk[3];
    for (std::size_t i = 0; i < 3; ++i) {
        const Rect f = toolbar->frameForItem(i);
        fill[i] = pixelAt(compositor.surface(), int(f.minX() + 3) * 2, int(centreOf(f).y) * 2);
        const Rect inDevicePixels(f.minX() * 2, f.minY() * 2, f.size.width * 2, f.size.height * 2);
        titleInk[i] = inkIn(compositor.surface(), inDevicePixels, isWhitish);
    }
    EXPECT_GT(fill[1].b - fill[1].r, 120) << "Done is a strong blue: " << fill[1];
    EXPECT_LT(fill[0].b - fill[0].r, 80) << "Bordered is slate: " << fill[0];
    const Rgba bar = pixelAt(compositor.surface(), 2, 60);
    const auto distance = [&](Rgba a) { return std::abs(a.r - bar.r) + std::abs(a.g - bar.g) + std::abs(a.b - bar.b); };
    EXPECT_LT(distance(fill[2]), distance(fill[0]) / 2 + 1) << "disabled fades into the bar";
    EXPECT_TRUE(titleInk[0] > 60 && titleInk[1] > 60) << titleInk[0] << ", " << titleInk[1];
    EXPECT_EQ(titleInk[2], 0) << "a disabled title is greyed";
}

// ---- segmented control

class SegmentedControlTest : public testing::Test {
protected:
    void SetUp() override {
        control->setOnValueChanged(
            [this](SegmentedControl& c) { picks.push_back(c.selectedSegmentIndex()); });
    }

    // Whether each segment is drawn selected (filled blue near its left edge).
    std::vector<bool> drawnSelected() {
        compositor.render(*control);
        std::vector<bool> selected;
        for (std::size_t i = 0; i < control->numberOfSegments(); ++i) {
            const Rect f = control->frameForSegment(i);
            selected.push_back(isTintBlue(pixelAt(compositor.surface(), int(f.minX()) + 6, 8)));
        }
        return selected;
    }
    Point centreOfSegment(std::size_t i) const { return centreOf(control->frameForSegment(i)); }

    std::shared_ptr<SegmentedControl> control = std::make_shared<SegmentedControl>(
        Rect(0, 0, 300, 30), std::vector<std::string>{"Z", "Y+Z", "X+Y+Z"});
    TouchRouter router{*control};
    Compositor compositor{Size{300, 30}, 1};
    std::vector<std::int32_t> picks;
};

TEST_F(SegmentedControlTest, TheSegmentUnderTheReleaseIsSelectedAndReported) {
    for (std::int32_t stored : {7, -3, SegmentedControl::kNoSegment}) {
        control->setSelectedSegmentIndex(stored);
        EXPECT_EQ(drawnSelected(), (std::vector<bool>{false, false, false})) << "index " << stored << ": no segment";
    }
    for (std::int32_t i : {2, 0}) {
        router.click(centreOfSegment(std::size_t(i)));
        EXPECT_EQ(control->selectedSegmentIndex(), i);
        EXPECT_EQ(drawnSelected(), (std::vector<bool>{i == 0, false, i == 2})) << "segment " << i;
    }
    router.press(centreOfSegment(0));
    router.release(centreOfSegment(1));
    EXPECT_EQ(control->selectedSegmentIndex(), 1) << "the segment under the release point";
    router.press(centreOfSegment(0));
    router.release(Point{150, 45});
    router.click(centreOfSegment(1));
    control->setSelectedSegmentIndex(0);
    control->setEnabled(false);
    router.click(centreOfSegment(2));
    EXPECT_EQ(control->selectedSegmentIndex(), 0);
    EXPECT_EQ(picks, (std::vector<std::int32_t>{2, 0, 1}))
        << "not released on the control, re-picked, set in code or disabled: no change reported";
}

} // namespace
} // namespace platform
