#include "Classes/TrembitAppDelegate.h"

#include "platform/app/Application.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

using platform::SegmentedControl;
using Four = std::array<std::int32_t, 4>;

namespace {

// Stored values are loaded into the fields and the controls (wired at their interface-file
// defaults) as they are, and a save writes back what the controls show, out of range or not.
TEST(TrembitAppDelegateTest, StoredValuesGoUncheckedIntoFieldsAndControlsAndBack) {
    const struct {
        const char* file;
        Four fields;
        Four selections;
    } cases[] = {
        {"", {0, 1, 0, 1}, {0, 1, 0, 1}},
        {"[trembit]\nfilter=1\nupdateFrequency=3\nscale=1\naxis=2\n", {1, 3, 1, 2}, {1, 3, 1, 2}},
        {"[trembit]\naxis=7\nfilter=-1\n", {-1, 1, 0, 7}, {-1, 1, 0, 7}},
        // A value that is not a 32-bit integer reads as none: default field, control untouched.
        {"[trembit]\nscale=abc\naxis=4294967297\nupdateFrequency=2\n", {0, 2, 0, 1}, {0, 2, 0, 1}},
    };
    const char* keys[] = {"filter", "updateFrequency", "scale", "axis"};
    const testing_support::TempDir dir;
    platform::VirtualClock clock;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        testing_support::writeFile(dir / "preferences.conf", c.file);
        platform::Application application(clock, 1, platform::Preferences(dir / "preferences.conf"));
        TrembitAppDelegate d;
        const auto control = [](std::vector<std::string> titles, int selected) {
            auto made = std::make_shared<SegmentedControl>(platform::Rect(0, 0, 200, 30), std::move(titles));
            made->setSelectedSegmentIndex(selected);
            return made;
        };
        d.filterControl = control({"Off", "On"}, 0);
        d.updateFrequencyControl = control({"20", "40", "60", "200"}, 1);
        d.scaleControl = control({"Log", "Linear"}, 0);
        d.axisControl = control({"Z", "Y+Z", "X+Y+Z"}, 1);
        d.settingsAxis = 9;
        d.loadSettings();
        EXPECT_EQ(Four({d.settingsFilter, d.settingsUpdateFrequency, d.settingsScale, d.settingsAxis}),
                  c.fields);
        EXPECT_EQ(
            Four({d.filterControl->selectedSegmentIndex(), d.updateFrequencyControl->selectedSegmentIndex(),
                  d.scaleControl->selectedSegmentIndex(), d.axisControl->selectedSegmentIndex()}),
            c.selections);
        d.saveSettings();
        const platform::Preferences saved(dir / "preferences.conf");
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(saved.copyValue(keys[i]), c.selections[i]) << keys[i];
        }
    }
}

} // namespace
