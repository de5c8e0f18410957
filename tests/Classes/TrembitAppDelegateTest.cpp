#include "Classes/TrembitAppDelegate.h"
#include "platform/app/Application.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using platform::SegmentedControl;

namespace {

// A delegate wired to four controls and an application with its own preference file, as the
// interface file and launch would leave it, without a window.
class TrembitAppDelegateTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "trembit-delegate-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        file_ = dir_ / "preferences.conf";
        delegate_.filterControl = control({"Off", "On"}, 0);
        delegate_.updateFrequencyControl = control({"20", "40", "60", "200"}, 1);
        delegate_.scaleControl = control({"Log", "Linear"}, 0);
        delegate_.axisControl = control({"Z", "Y+Z", "X+Y+Z"}, 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static std::shared_ptr<SegmentedControl> control(std::vector<std::string> titles, int selected) {
        auto c = std::make_shared<SegmentedControl>(platform::Rect(0, 0, 200, 30), std::move(titles));
        c->setSelectedSegmentIndex(selected);
        return c;
    }

    void store(const std::string& text) { std::ofstream(file_) << text; }

    std::array<std::int32_t, 4> fields() const {
        return {delegate_.settingsFilter, delegate_.settingsUpdateFrequency, delegate_.settingsScale,
                delegate_.settingsAxis};
    }
    std::array<std::int32_t, 4> selections() const {
        return {delegate_.filterControl->selectedSegmentIndex(), delegate_.updateFrequencyControl->selectedSegmentIndex(),
                delegate_.scaleControl->selectedSegmentIndex(), delegate_.axisControl->selectedSegmentIndex()};
    }

    std::filesystem::path dir_;
    std::filesystem::path file_;
    platform::VirtualClock clock_;
    TrembitAppDelegate delegate_;
};

using Four = std::array<std::int32_t, 4>;

TEST_F(TrembitAppDelegateTest, EmptyStoreGivesDefaultsAndWritesNothing) {
    platform::Application application(clock_, 1, platform::Preferences(file_));
    delegate_.settingsAxis = 9;
    delegate_.loadSettings();
    EXPECT_EQ(fields(), (Four{0, 1, 0, 1}));
    EXPECT_EQ(selections(), (Four{0, 1, 0, 1}));
    EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(TrembitAppDelegateTest, StoredValuesGoUncheckedIntoFieldsAndControls) {
    struct Case {
        const char* file;
        Four fields;
        Four selections;
    };
    const Case cases[] = {
        {"[trembit]\nfilter=1\nupdateFrequency=3\nscale=1\naxis=2\n", {1, 3, 1, 2}, {1, 3, 1, 2}},
        {"[trembit]\naxis=7\nfilter=-1\n", {-1, 1, 0, 7}, {-1, 1, 0, 7}},
        // A value that is not a 32-bit integer reads as none: default field, control untouched.
        {"[trembit]\nscale=abc\naxis=4294967297\nupdateFrequency=2\n", {0, 2, 0, 1}, {0, 2, 0, 1}},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        store(c.file);
        platform::Application application(clock_, 1, platform::Preferences(file_));
        delegate_.loadSettings();
        EXPECT_EQ(fields(), c.fields) << c.file;
        EXPECT_EQ(selections(), c.selections) << c.file;
    }
}

TEST_F(TrembitAppDelegateTest, SaveWritesAllFourAndAFreshLoadRestoresThem) {
    {
        platform::Application application(clock_, 1, platform::Preferences(file_));
        delegate_.loadSettings();
        delegate_.axisControl->setSelectedSegmentIndex(0);
        delegate_.scaleControl->setSelectedSegmentIndex(1);
        delegate_.saveSettings();
        EXPECT_EQ(fields(), (Four{0, 1, 1, 0}));
    }
    TrembitAppDelegate fresh;
    fresh.filterControl = control({"Off", "On"}, 0);
    fresh.updateFrequencyControl = control({"20", "40", "60", "200"}, 1);
    fresh.scaleControl = control({"Log", "Linear"}, 0);
    fresh.axisControl = control({"Z", "Y+Z", "X+Y+Z"}, 1);
    platform::Application application(clock_, 1, platform::Preferences(file_));
    fresh.loadSettings();
    EXPECT_EQ(fresh.settingsScale, 1);
    EXPECT_EQ(fresh.axisControl->selectedSegmentIndex(), 0);
    const platform::Preferences reread(file_);
    for (const char* key : {"filter", "updateFrequency", "scale", "axis"}) {
        EXPECT_TRUE(reread.copyValue(key).has_value()) << key;
    }
}

TEST_F(TrembitAppDelegateTest, OutOfRangeSelectionSurvivesASave) {
    store("[trembit]\naxis=7\n");
    platform::Application application(clock_, 1, platform::Preferences(file_));
    delegate_.loadSettings();
    delegate_.saveSettings();
    EXPECT_EQ(platform::Preferences(file_).copyValue("axis"), 7);
}

TEST_F(TrembitAppDelegateTest, GateDropsSamplesWithoutTouchingTheState) {
    platform::Application application(clock_, 1, platform::Preferences(file_));
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
