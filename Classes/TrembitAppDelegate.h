#pragma once

#include "Classes/TremView.h"
#include "platform/app/ApplicationDelegate.h"
#include "platform/services/Accelerometer.h"
#include "platform/ui/Animation.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

#include <array>
#include <cstdint>
#include <memory>

/// The controller of the whole application: the application's delegate, the accelerometer's
/// delegate, the target of both toolbar buttons and the animation delegate of the page turn. It
/// holds the settings, the signal state and the run-control flags.
class TrembitAppDelegate : public platform::ApplicationDelegate,
                           public platform::AccelerometerDelegate,
                           public platform::AnimationDelegate {
public:
    TrembitAppDelegate() = default;
    ~TrembitAppDelegate() override;

    // Launch.
    void applicationDidFinishLaunching(platform::Application& application) override;

    // Signal path: one sample in, at most one deflection value out to the recorder page.
    void accelerometerDidAccelerate(platform::Accelerometer& accelerometer,
                                    const platform::Acceleration& acceleration) override;

    // Run control and the settings page.
    void toggleRun();
    void toggleSettings();
    void animationDidStop(const std::string& animationID) override;

    // Settings: the four controls <-> the preference store <-> the settings fields.
    void loadSettings();
    void saveSettings();

    // Retaining properties.
    const std::shared_ptr<platform::Window>& window() const { return window_; }
    void setWindow(std::shared_ptr<platform::Window> window) { window_ = std::move(window); }
    const std::shared_ptr<platform::Toolbar>& toolBar() const { return toolBar_; }
    void setToolBar(std::shared_ptr<platform::Toolbar> toolBar) { toolBar_ = std::move(toolBar); }
    const std::shared_ptr<platform::View>& animationView() const { return animationView_; }
    void setAnimationView(std::shared_ptr<platform::View> view) { animationView_ = std::move(view); }
    const std::shared_ptr<platform::View>& settingsView() const { return settingsView_; }
    void setSettingsView(std::shared_ptr<platform::View> view) { settingsView_ = std::move(view); }
    const std::shared_ptr<TremView>& tremView() const { return tremView_; }
    void setTremView(std::shared_ptr<TremView> view) { tremView_ = std::move(view); }

    // Outlets and inspection, for the platform.
    std::vector<std::string> requiredOutlets() const override;
    bool connectOutlet(std::string_view name, const std::shared_ptr<platform::View>& object) override;
    void writeState(platform::JsonWriter& json) const override;

    // Signal state.
    std::array<double, 3> lastAcceleration{};
    std::array<double, 3> filter{};

    // Run control.
    bool updatingIsEnabled = false;
    bool animating = false;
    bool settingsOpen = false;
    bool lastRunState = false;

    // The settings page's controls, connected by the interface file.
    std::shared_ptr<platform::SegmentedControl> filterControl;
    std::shared_ptr<platform::SegmentedControl> updateFrequencyControl;
    std::shared_ptr<platform::SegmentedControl> scaleControl;
    std::shared_ptr<platform::SegmentedControl> axisControl;

    // Settings, each the index of a segment.
    std::int32_t settingsFilter = 0;
    std::int32_t settingsUpdateFrequency = 0;
    std::int32_t settingsScale = 0;
    std::int32_t settingsAxis = 0;

private:
    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::Toolbar> toolBar_;
    std::shared_ptr<platform::View> animationView_;
    std::shared_ptr<platform::View> settingsView_;
    std::shared_ptr<TremView> tremView_;
};
