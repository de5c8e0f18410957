#include "platform/gfx/Text.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/TouchRouter.h"
#include "platform/ui/View.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <string>
#include <vector>

using platform::BarButtonItem;
using platform::BarButtonItemStyle;
using platform::BarButtonSystemItem;
using platform::Color;
using platform::Compositor;
using platform::Point;
using platform::Rect;
using platform::SegmentedControl;
using platform::Size;
using platform::Toolbar;
using platform::TouchRouter;
using platform::View;
using testing_support::pixelAt;
using testing_support::Rgba;

namespace {

Point centreOf(const Rect& r) { return Point{r.minX() + r.size.width / 2.0f, r.minY() + r.size.height / 2.0f}; }

// Device-pixel box and count of the pixels of `surface` inside `area` (device pixels) that match.
struct Ink {
    int count = 0;
    int minX = 1 << 30, maxX = -1;
};

Ink inkIn(cairo_surface_t* surface, const Rect& area, const std::function<bool(Rgba)>& isInk) {
    Ink ink;
    for (int y = int(area.minY()); y < int(area.maxY()); ++y) {
        for (int x = int(area.minX()); x < int(area.maxX()); ++x) {
            if (isInk(pixelAt(surface, x, y))) {
                ++ink.count;
                ink.minX = std::min(ink.minX, x);
                ink.maxX = std::max(ink.maxX, x);
            }
        }
    }
    return ink;
}

bool isWhitish(Rgba c) { return c.r > 220 && c.g > 220 && c.b > 220 && c.a > 200; }
bool isTintBlue(Rgba c) { return c.b > 180 && c.r < 90 && c.a > 200; }

// Pause, flexible space, Settings: the recorder page's bar, with click counters.
struct RecorderBar {
    std::shared_ptr<Toolbar> toolbar = std::make_shared<Toolbar>(Rect(0, 0, 320, 49));
    int runClicks = 0;
    int settingsClicks = 0;
    std::shared_ptr<BarButtonItem> run =
        std::make_shared<BarButtonItem>("Pause", BarButtonItemStyle::Bordered, [this] { ++runClicks; });
    std::shared_ptr<BarButtonItem> settings =
        std::make_shared<BarButtonItem>("Settings", BarButtonItemStyle::Bordered, [this] { ++settingsClicks; });

    RecorderBar() {
        run->setWidth(70);
        settings->setWidth(100);
        toolbar->setItems({run, std::make_shared<BarButtonItem>(BarButtonSystemItem::FlexibleSpace), settings});
    }
};

} // namespace

// ---- hit-testing and point conversion

class HitTestTest : public testing::Test {
protected:
    void SetUp() override {
        for (auto& [name, frame] : std::map<std::string, Rect>{{"back", Rect(0, 0, 60, 60)},
                                                                {"front", Rect(40, 40, 40, 40)},
                                                                {"moved", Rect(0, 80, 10, 10)},
                                                                {"turned", Rect(0, 0, 20, 40)},
                                                                {"hidden", Rect(0, 90, 10, 10)},
                                                                {"inert", Rect(90, 0, 10, 10)}}) {
            views[name] = std::make_shared<View>(frame);
        }
        for (const char* name : {"back", "front", "moved", "turned", "hidden", "inert"}) {
            root->addSubview(views[name]);
        }
        views["inner"] = std::make_shared<View>(Rect(5, 5, 10, 10)); // root (45..55, 45..55)
        views["front"]->addSubview(views["inner"]);
        views["inertChild"] = std::make_shared<View>(Rect(0, 0, 10, 10));
        views["inert"]->addSubview(views["inertChild"]);
        views["moved"]->layer().setValueForKeyPath(85, "transform.translation.x"); // root (85..95, 80..90)
        // Hanging from (40, 70) and given a quarter turn: it lies across x 0..40, y 60..80.
        views["turned"]->layer().setAnchorPoint(Point{0.5f, 0.0f});
        views["turned"]->layer().setPosition(Point{40, 70});
        views["turned"]->layer().setValueForKeyPath(std::numbers::pi_v<float> / 2, "transform.rotation.z");
        views["hidden"]->setHidden(true);
        views["inert"]->setUserInteractionEnabled(false);
    }

    std::string nameOf(const View* view) const {
        if (view == nullptr) {
            return "none";
        }
        if (view == root.get()) {
            return "root";
        }
        for (const auto& [name, v] : views) {
            if (v.get() == view) {
                return name;
            }
        }
        return "?";
    }

    std::shared_ptr<View> root = std::make_shared<View>(Rect(0, 0, 100, 100));
    std::map<std::string, std::shared_ptr<View>> views;
};

TEST_F(HitTestTest, FindsTheFrontmostInteractiveViewWhereItIsDrawn) {
    const struct {
        Point point;
        const char* expected;
    } cases[] = {
        {{20, 20}, "back"},     {{58, 58}, "front"},  {{50, 50}, "inner"}, // front over back, deepest wins
        {{90, 85}, "moved"},    {{5, 85}, "root"},                         // where it moved, not where it was
        {{20, 70}, "turned"},   {{45, 95}, "root"},                        // turned, not upright
        {{5, 95}, "root"},      {{95, 5}, "root"},                         // hidden; interaction off
        {{150, 50}, "none"},    {{-1, 50}, "none"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nameOf(root->hitTest(c.point)), c.expected) << "at (" << c.point.x << ", " << c.point.y << ")";
    }
}

TEST_F(HitTestTest, ConvertPointFollowsLayersBothWays) {
    const View& turned = *views["turned"];
    // The turned view's (10, 30) is 30 below its pivot, swung to 30 left of it.
    const Point inRoot = platform::convertPoint(Point{10, 30}, turned, nullptr);
    EXPECT_NEAR(inRoot.x, 10.0f, 1e-4f);
    EXPECT_NEAR(inRoot.y, 70.0f, 1e-4f);
    const Point inMoved = platform::convertPoint(Point{3, 4}, turned, views["moved"].get());
    const Point back = platform::convertPoint(inMoved, *views["moved"], &turned);
    EXPECT_NEAR(back.x, 3.0f, 1e-4f);
    EXPECT_NEAR(back.y, 4.0f, 1e-4f);
    const Point inInner = platform::convertPoint(Point{50, 51}, *root, views["inner"].get());
    EXPECT_EQ(inInner, (Point{5, 6}));
}

// ---- toolbar buttons

TEST(ToolbarTest, FlexibleSpaceTakesTheRoomLeftBetweenButtons) {
    RecorderBar bar;
    EXPECT_EQ(bar.toolbar->frameForItem(0), Rect(6, 9, 70, 30));
    EXPECT_EQ(bar.toolbar->frameForItem(1), Rect(82, 9, 126, 30));
    EXPECT_EQ(bar.toolbar->frameForItem(2).minX(), 214.0f);
    EXPECT_EQ(bar.toolbar->frameForItem(2).maxX(), 314.0f);
    EXPECT_EQ(bar.toolbar->frameForItem(3), Rect());

    // A button without a width fits its title, in whole points, and no flexible space is needed.
    auto fitted = std::make_shared<BarButtonItem>("Settings", BarButtonItemStyle::Bordered, nullptr);
    bar.toolbar->setItems({fitted, bar.run});
    const platform::TextStyle style{Toolbar::kTitlePointSize, true, {}, platform::TextAlignment::Center};
    const float expected = std::ceil(platform::measureText("Settings", style).width) + 20.0f;
    EXPECT_EQ(bar.toolbar->frameForItem(0), Rect(6, 9, expected, 30));
    EXPECT_EQ(bar.toolbar->frameForItem(1).minX(), 6.0f + expected + 6.0f);
}

struct ClickCase {
    const char* name;
    std::size_t pressOn;   // item index, or kOutside
    std::size_t releaseOn; // item index, or kOutside
    bool runEnabled;
    int runClicks;
    int settingsClicks;
};
constexpr std::size_t kOutside = 99;

void PrintTo(const ClickCase& c, std::ostream* os) { *os << c.name; }

class ToolbarClickTest : public testing::TestWithParam<ClickCase> {};

TEST_P(ToolbarClickTest, ActionFiresOnlyForAReleaseOnThePressedEnabledButton) {
    const ClickCase& c = GetParam();
    // The bar sits at the bottom of a page, so root and toolbar points differ.
    auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
    RecorderBar bar;
    bar.toolbar->setFrame(Rect(0, 431, 320, 49));
    root->addSubview(bar.toolbar);
    bar.run->setEnabled(c.runEnabled);
    const auto pointFor = [&](std::size_t index) {
        return index == kOutside ? Point{160, 200}
                                 : platform::convertPoint(centreOf(bar.toolbar->frameForItem(index)), *bar.toolbar,
                                                          nullptr);
    };
    TouchRouter router(*root);
    router.press(pointFor(c.pressOn));
    router.release(pointFor(c.releaseOn));
    EXPECT_EQ(bar.runClicks, c.runClicks);
    EXPECT_EQ(bar.settingsClicks, c.settingsClicks);
    EXPECT_FALSE(bar.toolbar->isItemHighlighted(0) || bar.toolbar->isItemHighlighted(2));
}

INSTANTIATE_TEST_SUITE_P(
    Clicks, ToolbarClickTest,
    testing::Values(ClickCase{"click_run", 0, 0, true, 1, 0}, ClickCase{"click_settings", 2, 2, true, 0, 1},
                    ClickCase{"slide_to_other_button", 0, 2, true, 0, 0},
                    ClickCase{"release_off_the_bar", 0, kOutside, true, 0, 0},
                    ClickCase{"disabled", 0, 0, false, 0, 0}, ClickCase{"flexible_space", 1, 1, true, 0, 0},
                    ClickCase{"press_off_the_bar", kOutside, 0, true, 0, 0}),
    [](const testing::TestParamInfo<ClickCase>& info) { return info.param.name; });

TEST(ToolbarTest, HeldButtonIsDrawnDarkerUntilReleasedOrDraggedAway) {
    RecorderBar bar;
    Compositor compositor(Size{320, 49}, 1);
    const Rect runFrame = bar.toolbar->frameForItem(0);
    const int sampleX = int(runFrame.minX()) + 4; // inside the button, clear of the title
    const int sampleY = int(centreOf(runFrame).y);
    const auto brightness = [&] {
        compositor.render(*bar.toolbar);
        const Rgba c = pixelAt(compositor.surface(), sampleX, sampleY);
        return c.r + c.g + c.b;
    };
    const int resting = brightness();
    TouchRouter router(*bar.toolbar);
    router.press(centreOf(runFrame));
    EXPECT_TRUE(bar.toolbar->isItemHighlighted(0));
    const int held = brightness();
    EXPECT_LT(held, resting - 60) << "held " << held << " resting " << resting;
    router.move(Point{160, 200});
    EXPECT_FALSE(bar.toolbar->isItemHighlighted(0)) << "a finger dragged off lets go of the look";
    router.move(centreOf(runFrame));
    EXPECT_TRUE(bar.toolbar->isItemHighlighted(0));
    router.release(centreOf(runFrame));
    EXPECT_EQ(brightness(), resting);
    EXPECT_EQ(bar.runClicks, 1);
}

TEST(ToolbarTest, ItemChangesRedrawOnlyTheBarThatShowsThem) {
    const std::vector<std::pair<const char*, std::function<void(BarButtonItem&)>>> changes{
        {"title", [](BarButtonItem& i) { i.setTitle("Resume"); }},
        {"style", [](BarButtonItem& i) { i.setStyle(BarButtonItemStyle::Done); }},
        {"enabled", [](BarButtonItem& i) { i.setEnabled(false); }},
        {"width", [](BarButtonItem& i) { i.setWidth(90); }},
    };
    for (const auto& [name, change] : changes) {
        RecorderBar bar;
        Compositor compositor(Size{320, 49}, 1);
        compositor.render(*bar.toolbar);
        change(*bar.run);
        EXPECT_TRUE(bar.toolbar->needsDisplay()) << name;
        compositor.render(*bar.toolbar);
        bar.toolbar->setItems({bar.settings});
        compositor.render(*bar.toolbar);
        change(*std::make_shared<BarButtonItem>("x", BarButtonItemStyle::Plain, nullptr));
        change(*bar.run);
        EXPECT_FALSE(bar.toolbar->needsDisplay()) << name << ": a replaced item no longer points at the bar";
    }
    // An item that outlives its bar must not reach back into it.
    auto survivor = std::make_shared<BarButtonItem>("Pause", BarButtonItemStyle::Bordered, nullptr);
    std::make_shared<Toolbar>(Rect(0, 0, 320, 49))->setItems({survivor});
    EXPECT_EQ(survivor->toolbar(), nullptr);
    survivor->setTitle("Resume");
}

TEST(ToolbarTest, StylesAndStatesLookDifferent) {
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 0, 320, 49));
    auto bordered = std::make_shared<BarButtonItem>("Pause", BarButtonItemStyle::Bordered, nullptr);
    auto done = std::make_shared<BarButtonItem>("Save", BarButtonItemStyle::Done, nullptr);
    auto disabled = std::make_shared<BarButtonItem>("Resume", BarButtonItemStyle::Bordered, nullptr);
    disabled->setEnabled(false);
    toolbar->setItems({bordered, done, disabled});
    Compositor compositor(Size{320, 49}, 2);
    compositor.render(*toolbar);
    cairo_surface_t* s = compositor.surface();
    const auto fillOf = [&](std::size_t index) {
        const Rect f = toolbar->frameForItem(index);
        return pixelAt(s, int(f.minX() + 3) * 2, int(centreOf(f).y) * 2);
    };
    const Rgba bar = pixelAt(s, 2, 60);
    const Rgba borderedFill = fillOf(0);
    const Rgba doneFill = fillOf(1);
    const Rgba disabledFill = fillOf(2);
    EXPECT_GT(doneFill.b - doneFill.r, 120) << "Done is a strong blue: " << doneFill;
    EXPECT_LT(borderedFill.b - borderedFill.r, 80) << "Bordered is slate: " << borderedFill;
    const auto distance = [](Rgba a, Rgba b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); };
    EXPECT_LT(distance(disabledFill, bar), distance(borderedFill, bar) / 2 + 1)
        << "disabled " << disabledFill << " bordered " << borderedFill << " bar " << bar;

    // White title ink inside each enabled button, fainter and less of it for the disabled one.
    for (std::size_t i = 0; i < 3; ++i) {
        const Rect f = toolbar->frameForItem(i);
        const Ink ink = inkIn(s, Rect(f.minX() * 2, f.minY() * 2, f.size.width * 2, f.size.height * 2), isWhitish);
        if (i == 2) {
            EXPECT_EQ(ink.count, 0) << "a disabled title is greyed";
        } else {
            EXPECT_GT(ink.count, 60) << "title ink in item " << i;
        }
    }
}

// ---- segmented control

class SegmentedControlTest : public testing::Test {
protected:
    void SetUp() override {
        control->setOnValueChanged([this](SegmentedControl& c) { picks.push_back(c.selectedSegmentIndex()); });
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

    std::shared_ptr<SegmentedControl> control = std::make_shared<SegmentedControl>(
        Rect(0, 0, 300, 30), std::vector<std::string>{"Z", "Y+Z", "X+Y+Z"});
    TouchRouter router{*control};
    Compositor compositor{Size{300, 30}, 1};
    std::vector<std::int32_t> picks;
};

TEST_F(SegmentedControlTest, ClickOnEachSegmentSelectsItAndReportsIt) {
    const std::vector<std::vector<bool>> drawn{{true, false, false}, {false, true, false}, {false, false, true}};
    for (std::int32_t i : {2, 0, 1}) {
        router.click(centreOf(control->frameForSegment(std::size_t(i))));
        EXPECT_EQ(control->selectedSegmentIndex(), i);
        EXPECT_EQ(drawnSelected(), drawn[std::size_t(i)]) << "segment " << i;
    }
    EXPECT_EQ(picks, (std::vector<std::int32_t>{2, 0, 1}));
    router.click(centreOf(control->frameForSegment(1)));
    control->setSelectedSegmentIndex(0);
    EXPECT_EQ(picks.size(), 3u) << "neither re-picking nor setting in code reports a change";
}

TEST_F(SegmentedControlTest, IndexWithoutSegmentIsKeptAndShowsNothingSelected) {
    for (std::int32_t stored : {7, -3, SegmentedControl::kNoSegment}) {
        control->setSelectedSegmentIndex(stored);
        EXPECT_EQ(control->selectedSegmentIndex(), stored);
        EXPECT_EQ(drawnSelected(), (std::vector<bool>{false, false, false})) << "index " << stored;
        const Rgba outline = pixelAt(compositor.surface(), 150, 0);
        EXPECT_TRUE(isTintBlue(outline)) << "the outline still frames the control: " << outline;
    }
    control->setSelectedSegmentIndex(7);
    router.click(centreOf(control->frameForSegment(2)));
    EXPECT_EQ(control->selectedSegmentIndex(), 2);
    EXPECT_EQ(picks, (std::vector<std::int32_t>{2}));
    EXPECT_EQ(control->titleForSegment(2), "X+Y+Z");
    EXPECT_EQ(control->titleForSegment(7), "");
}

TEST_F(SegmentedControlTest, ReleasePointDecidesAndOnlyOnTheControl) {
    router.press(centreOf(control->frameForSegment(0)));
    router.release(centreOf(control->frameForSegment(2)));
    EXPECT_EQ(control->selectedSegmentIndex(), 2) << "the segment under the release point";
    router.press(centreOf(control->frameForSegment(0)));
    router.release(Point{150, 45});
    EXPECT_EQ(control->selectedSegmentIndex(), 2) << "released off the control";
    control->setEnabled(false);
    router.click(centreOf(control->frameForSegment(1)));
    EXPECT_EQ(control->selectedSegmentIndex(), 2) << "not enabled";
    EXPECT_EQ(picks, (std::vector<std::int32_t>{2}));
}

TEST_F(SegmentedControlTest, TitlesAreInkedInTheirSegmentsAtEveryScale) {
    control->setSelectedSegmentIndex(1);
    for (int scale : {1, 2, 3}) {
        Compositor scaled(Size{300, 30}, scale);
        scaled.render(*control);
        for (std::size_t i = 0; i < 3; ++i) {
            const Rect f = control->frameForSegment(i);
            const Rect inner((f.minX() + 4) * scale, 4.0f * scale, (f.size.width - 8) * scale, 22.0f * scale);
            const Ink ink = inkIn(scaled.surface(), inner, i == 1 ? isWhitish : isTintBlue);
            EXPECT_GT(ink.count, 4 * scale * scale) << "segment " << i << " at scale " << scale;
            // Centred: the ink's middle within two points of the segment's middle.
            EXPECT_NEAR((ink.minX + ink.maxX) / 2.0 / scale, centreOf(f).x, 2.0) << "segment " << i;
        }
    }
}

// ---- text and labels

TEST(TextTest, MeasuresIndependentlyOfWeightScaleAndEmptiness) {
    const platform::TextStyle regular{13.0f, false, {}, platform::TextAlignment::Left};
    platform::TextStyle bold = regular;
    bold.bold = true;
    EXPECT_EQ(platform::measureText("", regular), (Size{0, 0}));
    const Size z = platform::measureText("Z", regular);
    const Size xyz = platform::measureText("X+Y+Z", regular);
    EXPECT_GT(z.width, 4.0f);
    EXPECT_GT(xyz.width, 4.0f * z.width);
    EXPECT_GT(platform::measureText("X+Y+Z", bold).width, xyz.width);
    EXPECT_NEAR(xyz.height, 13.0f * 1.164f, 1.0f) << "DejaVu's line is about 1.16 em";
}

TEST(LabelTest, AlignmentPlacesTheInkAndLongTextStaysInside) {
    const struct {
        platform::TextAlignment alignment;
        const char* text;
        double expectedMinX, expectedMaxX; // where the ink may start and end, in points
    } cases[] = {
        {platform::TextAlignment::Left, "Axis", 0, 60},
        {platform::TextAlignment::Center, "Axis", 60, 140},
        {platform::TextAlignment::Right, "Axis", 140, 200},
        {platform::TextAlignment::Left, "A title far too long for its little box", 0, 200},
    };
    for (const auto& c : cases) {
        auto root = std::make_shared<View>(Rect(0, 0, 240, 30));
        auto label = std::make_shared<platform::Label>(Rect(0, 0, 200, 30), c.text);
        label->setAlignment(c.alignment);
        label->setTextColor(Color{1, 0, 0, 1});
        root->addSubview(label);
        Compositor compositor(Size{240, 30}, 2);
        compositor.render(*root);
        const Ink ink = inkIn(compositor.surface(), Rect(0, 0, 480, 60), [](Rgba p) { return p.a > 100; });
        EXPECT_GT(ink.count, 50) << c.text;
        EXPECT_GE(ink.minX / 2.0, c.expectedMinX) << c.text;
        EXPECT_LE(ink.maxX / 2.0, c.expectedMaxX) << c.text;
        label->setText("");
        compositor.render(*root);
        EXPECT_EQ(inkIn(compositor.surface(), Rect(0, 0, 480, 60), [](Rgba p) { return p.a > 0; }).count, 0)
            << "cleared text leaves nothing behind";
    }
}
