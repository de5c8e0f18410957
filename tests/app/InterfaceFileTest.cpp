#include "platform/app/InterfaceFile.h"

#include "tests/support/Files.h"

#include <gtest/gtest.h>

using platform::InterfaceFileError;
using platform::parseInterface;

namespace {

// A file cut short and an outlet left unconnected are held by the end-to-end tests.
TEST(InterfaceFileTest, ProblemsNameTheFileAndThePlace) {
    std::string nested, closed; // views 200 deep: refused, not a stack overflow
    for (int i = 0; i < 200; ++i) {
        nested += R"({"class": "View", "frame": [0,0,1,1], "subviews": [)";
        closed += "]}";
    }
    const std::pair<std::string, const char*> cases[] = {
        {"[]", "ui.json: expected a JSON object"},
        {R"({"window": {}, "outlets": {}})", "ui.json: missing \"delegate\""},
        {R"({"delegate": "D", "outlets": {}})", "ui.json: missing \"window\""},
        {R"({"delegate": "D", "window": {"class": "View", "frame": [0,0,1,1]}, "outlets": {}})",
         "window: the top view must be of class \"Window\""},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1]}, "outlets": {}})",
         "window.frame: expected [x, y, width, height]"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,-5,1]}, "outlets": {}})",
         "window.frame: numbers must be finite"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [{"class": "View", "frame": [0,0,4097,10]}]}, "outlets": {}})",
         "ui.json: window.subviews[0].frame: a view may be at most 4096 points wide and high"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [{"class": "Sl\u001b[2Jider", "frame": [0,0,1,1]}]}, "outlets": {}})",
         "window.subviews[0].class: unknown view class \"Sl\\x1b[2Jider\""},
        {R"({"delegate": "D", "window": {"class": "Window", "id": "a", "frame": [0,0,1,1], "subviews": [{"class": "View", "id": "a", "frame": [0,0,1,1]}]}, "outlets": {}})",
         "the id \"a\" is used twice"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1]}, "outlets": {"window": "nowhere"}})",
         "outlets.window: no object has the id \"nowhere\""},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [{"class": "SegmentedControl", "frame": [0,0,1,1], "segments": ["A"], "selectedSegmentIndex": 3}]}, "outlets": {}})",
         "selectedSegmentIndex: expected -1 (none) or a segment index from 0 to 0"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [)" + nested +
             closed + R"(]}, "outlets": {}})",
         "views are nested too deeply"},
        // Found by fuzzing: a number too large for a double made the parser throw a different error.
        {R"({"delegate": "D", "window": {"classid": 1e6900}, "outlets": {}})", "ui.json: not valid JSON"},
        {R"({"delegate": "D", "window": {"class": "Window", "frame": [0,0,1,1], "subviews": [{"class": "SegmentedControl", "frame": [0,0,1,1], "segments": ["A"], "selectedSegmentIndex": 18446744073709551615}]}, "outlets": {}})",
         "selectedSegmentIndex: expected -1 (none)"},
    };
    for (const auto& [text, message] : cases) {
        const std::string said =
            testing_support::errorOf<InterfaceFileError>([&] { parseInterface(text, "ui.json"); });
        EXPECT_NE(said.find(message), std::string::npos)
            << "expected '" << message << "' in '" << said << "'";
    }
}

} // namespace
