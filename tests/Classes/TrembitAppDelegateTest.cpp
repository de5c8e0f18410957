#include "Classes/TrembitAppDelegate.h"
#include "platform/app/Application.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

using platform::SegmentedControl;
using Four = std::array<std::int32_t, 4>;

namespace {

// A delegate wired to four controls at their interface-file defaults and an application with its
// own preference file, as the interface file and launch would leave it, without a window.
class TrembitAppDelegateTest : public testing::Test {
protected:
    TrembitAppDelegateTest() { wire(delegate_); }

    static void wire(TrembitAppDelegate& delegate) {
        const auto control = [](std::vector<std::string> titles, int selected) {
            auto c = std::make_shared<SegmentedControl>(platform::Rect(0, 0, 200, 30), std::move(titles));
            c->setSelectedSegmentIndex(selected);
            return c;
        };
        delegate.filterControl = control({"Off", "On"}, 0);
        delegate.updateFrequencyControl = control({"20", "40", "60", "200"}, 1);
        delegate.scaleControl = control({"Log", "Linear"}, 0);
        delegate.axisControl = control({"Z", "Y+Z", "X+Y+Z"}, 1);
    }
    static Four fields(const TrembitAppDelegate& d) {
        return {d.settingsFilter, d.settingsUpdateFrequency, d.settingsScale, d.settingsAxis};
    }
    static Four selections(const TrembitAppDelegate& d) {
        return {d.filterControl->selectedSegmentIndex(), d.updateFrequencyControl->selectedSegmentIndex(),
                d.scaleControl->selectedSegmentIndex(), d.axisControl->selectedSegmentIndex()};
    }
    platform::Preferences preferences() const { return platform::Preferences(dir_ / "preferences.conf"); }

    testing_support::TempDir dir_;
    platform::VirtualClock clock_;
    TrembitAppDelegate delegate_;
};

TEST_F(TrembitAppDelegateTest, StoredValuesGoUncheckedIntoFieldsAndControls) {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        testing_support::writeFile(dir_ / "preferences.conf", c.file);
        platform::Application application(clock_, 1, preferences());
        TrembitAppDelegate delegate;
        wire(delegate);
        delegate.settingsAxis = 9;
        delegate.loadSettings();
        EXPECT_EQ(fields(delegate), c.fields);
        EXPECT_EQ(selections(delegate), c.selections);
    }
}

TEST_F(TrembitAppDelegateTest, OutOfRangeSelectionSurvivesASave) {
    testing_support::writeFile(dir_ / "preferences.conf", "[trembit]\naxis=7\n");
    platform::Application application(clock_, 1, preferences());
    delegate_.loadSettings();
    delegate_.saveSettings();
    EXPECT_EQ(preferences().copyValue("axis"), 7);
}

TEST_F(TrembitAppDelegateTest, GateDropsSamplesWithoutTouchingTheState) {
    platform::Application application(clock_, 1, preferences());
    delegate_.setTremView(std::make_shared<TremView>(platform::Rect(0, 0, 320, 411)));
    delegate_.settingsAxis = 1;
    // Samples go through an accelerometer, so what the delegate tells the platform is heard too.
    struct Heard final : platform::SampleListener {
        void sampleDelivered(const platform::DeliveredSample& d) override { deflections.push_back(d.deflection); }
        std::vector<std::optional<float>> deflections;
    } heard;
    struct Samples final : platform::SampleSource {
        std::optional<platform::Acceleration> nextSample(double) override { return script.at(next++); }
        std::string description() const override { return "test"; }
        std::vector<platform::Acceleration> script{{0.0, 0.0, -1.0}, {5.0, 5.0, 5.0}, {0.0, 0.0, -1.0}};
        std::size_t next = 0;
    };
    platform::Accelerometer accelerometer;
    accelerometer.setSource(std::make_unique<Samples>());
    accelerometer.setDelegate(&delegate_);
    accelerometer.addListener(heard);
    accelerometer.setUpdateInterval(1.0);
    accelerometer.start(0.0);

    delegate_.updatingIsEnabled = true;
    accelerometer.deliverDueSamples(1.0);
    EXPECT_EQ(delegate_.tremView()->graphView()->nextIndex(), 1u);
    EXPECT_EQ(heard.deflections.back(), delegate_.tremView()->graphView()->history()[0]);

    delegate_.updatingIsEnabled = false;
    accelerometer.deliverDueSamples(2.0);
    EXPECT_EQ(delegate_.tremView()->graphView()->nextIndex(), 1u) << "nothing sent for a dropped sample";
    EXPECT_EQ(heard.deflections.back(), std::nullopt);
    EXPECT_EQ(delegate_.lastAcceleration, (std::array<double, 3>{0.0, 0.0, -1.0}));

    // The next processed sample is differenced against the one before the gate closed.
    delegate_.updatingIsEnabled = true;
    accelerometer.deliverDueSamples(3.0);
    EXPECT_EQ(heard.deflections.back(), 0.0f);
    accelerometer.setDelegate(nullptr);
}

} // namespace
