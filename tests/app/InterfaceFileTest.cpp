#include "platform/app/InterfaceFile.h"
#include "platform/gfx/Resources.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Window.h"

#include <gtest/gtest.h>

using platform::InterfaceFileError;
using platform::parseInterface;

namespace {

const char* kMinimal = R"({
  "delegate": "D",
  "window": {"class": "Window", "id": "w", "frame": [0, 0, 320, 480], "subviews": [
    {"class": "SegmentedControl", "id": "c", "frame": [1, 2, 100, 30], "segments": ["A", "B"],
     "selectedSegmentIndex": 1}]},
  "outlets": {"window": "w", "control": "c"}
})";

TEST(InterfaceFileTest, BuildsTheTreeAndOutlets) {
    const platform::Interface interface = parseInterface(kMinimal, "ui.json");
    EXPECT_EQ(interface.delegateClass, "D");
    ASSERT_TRUE(interface.window);
    ASSERT_EQ(interface.window->subviews().size(), 1u);
    auto control = std::dynamic_pointer_cast<platform::SegmentedControl>(interface.objects.at("c"));
    ASSERT_TRUE(control);
    EXPECT_EQ(control->selectedSegmentIndex(), 1);
    EXPECT_EQ(control->frame(), platform::Rect(1, 2, 100, 30));
    ASSERT_EQ(interface.outlets.size(), 2u);
}

// The shipped interface file must load, and its controls must start at the settings' defaults:
// otherwise the first save would silently change what the program does.
TEST(InterfaceFileTest, ShippedFileStartsAtTheDefaults) {
    const platform::Interface interface = platform::loadInterface(platform::resourcePath("MainWindow.json"));
    const std::pair<const char*, std::vector<std::string>> controls[] = {
        {"filterControl", {"Off", "On"}},
        {"updateFrequencyControl", {"20", "40", "60", "200"}},
        {"scaleControl", {"Log", "Linear"}},
        {"axisControl", {"Z", "Y+Z", "X+Y+Z"}},
    };
    const int defaults[] = {0, 1, 0, 1};
    for (std::size_t i = 0; i < 4; ++i) {
        auto control = std::dynamic_pointer_cast<platform::SegmentedControl>(interface.objects.at(controls[i].first));
        ASSERT_TRUE(control) << controls[i].first;
        EXPECT_EQ(control->selectedSegmentIndex(), defaults[i]) << controls[i].first;
        ASSERT_EQ(control->numberOfSegments(), controls[i].second.size());
        for (std::size_t s = 0; s < controls[i].second.size(); ++s) {
            EXPECT_EQ(control->titleForSegment(s), controls[i].second[s]);
        }
    }
}

TEST(InterfaceFileTest, ProblemsNameTheFileAndThePlace) {
    std::string nested, closed; // views 200 deep: refused, not a stack overflow
    for (int i = 0; i < 200; ++i) {
        nested += R"({"class": "View", "frame": [0,0,1,1], "subviews": [)";
        closed += "]}";
    }
    const std::pair<std::string, const char*> cases[] = {
        {"", "ui.json: not valid JSON"},
        {"[]", "ui.json: expected a JSON object"},
        {R"({"window": {}, "outlets": {}})", "ui.json: missing \"delegate\""},
        {R"({"delegate": "D", "outlets": {}})", "ui.json: missing \"window\""},
        {R"({"delegate": "D", "window": {"class": "View", "frame": [0,0,1,1]}, "outlets": {}})",
         "window: the top view must be of class \"Window\""},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1]}, "outlets": {}})",
         "window.frame: expected [x, y, width, height]"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,-5,1]}, "outlets": {}})",
         "window.frame: numbers must be finite"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [{"class": "Sl\u001b[2Jider", "frame": [0,0,1,1]}]}, "outlets": {}})",
         "window.subviews[0].class: unknown view class \"Sl\\x1b[2Jider\""},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [{"class": "View", "frame": [0,0,4097,1]}]}, "outlets": {}})",
         "window.subviews[0].frame: a view may be at most 4096 points wide and high"},
        {R"({"delegate": "D", "window": {"class": "Window", "id": "a", "frame": [0,0,1,1], "subviews": [{"class": "View", "id": "a", "frame": [0,0,1,1]}]}, "outlets": {}})",
         "the id \"a\" is used twice"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1]}, "outlets": {"window": "nowhere"}})",
         "outlets.window: no object has the id \"nowhere\""},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [{"class": "SegmentedControl", "frame": [0,0,1,1], "segments": ["A"], "selectedSegmentIndex": 3}]}, "outlets": {}})",
         "selectedSegmentIndex: expected -1 (none) or a segment index from 0 to 0"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [)" + nested + closed +
             R"(]}, "outlets": {}})",
         "views are nested too deeply"},
        // Found by fuzzing: a number too large for a double made the parser throw a different error.
        {R"({"delegate": "D", "window": {"classid": 1e6900}, "outlets": {}})",
         "ui.json: not valid JSON"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [{"class": "SegmentedControl", "frame": [0,0,1,1], "segments": ["A"], "selectedSegmentIndex": 18446744073709551615}]}, "outlets": {}})",
         "selectedSegmentIndex: expected -1 (none)"},
    };
    for (const auto& [text, message] : cases) {
        try {
            parseInterface(text, "ui.json");
            ADD_FAILURE() << "no error for " << text;
        } catch (const InterfaceFileError& error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos)
                << "expected '" << message << "' in '" << error.what() << "'";
        }
    }
}

} // namespace
