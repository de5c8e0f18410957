#include "Classes/TrembitAppDelegate.h"

#include "Classes/SampleConditioning.h"
#include "platform/app/Application.h"
#include "platform/app/JsonWriter.h"

using platform::BarButtonItem;
using platform::BarButtonItemStyle;
using platform::Rect;

namespace {

constexpr Rect kToolBarFrame(0.0f, 431.0f, 320.0f, 49.0f);
constexpr Rect kAnimationViewFrame(0.0f, 20.0f, 320.0f, 411.0f);
constexpr Rect kTremViewFrame(0.0f, 0.0f, 320.0f, 411.0f);
constexpr float kRunButtonWidth = 70.0f;
constexpr float kFlexibleSpaceWidth = 10.0f;
constexpr float kSettingsButtonWidth = 100.0f;
constexpr std::size_t kRunButtonIndex = 0;
constexpr std::size_t kSettingsButtonIndex = 2;
constexpr double kPageTurnSeconds = 1.0;

// Each setting: its preference key, its field, its control and its default, in the order they are
// loaded and saved.
struct Setting {
    const char* key;
    std::int32_t TrembitAppDelegate::*field;
    std::shared_ptr<platform::SegmentedControl> TrembitAppDelegate::*control;
    std::int32_t defaultValue;
};

constexpr Setting kSettings[] = {
    {"filter", &TrembitAppDelegate::settingsFilter, &TrembitAppDelegate::filterControl, 0},
    {"updateFrequency", &TrembitAppDelegate::settingsUpdateFrequency,
     &TrembitAppDelegate::updateFrequencyControl, 1},
    {"scale", &TrembitAppDelegate::settingsScale, &TrembitAppDelegate::scaleControl, 0},
    {"axis", &TrembitAppDelegate::settingsAxis, &TrembitAppDelegate::axisControl, 1},
};

} // namespace

TrembitAppDelegate::~TrembitAppDelegate() {
    if (platform::Accelerometer::sharedAccelerometer().delegate() == this) {
        platform::Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    }
    settingsView_.reset();
    tremView_.reset();
    animationView_.reset();
    toolBar_.reset();
    window_.reset();
}

void TrembitAppDelegate::applicationDidFinishLaunching(platform::Application&) {
    // The interface file may show the settings page; the first page is always the recorder.
    settingsView_->removeFromSuperview();

    setToolBar(std::make_shared<platform::Toolbar>(kToolBarFrame));
    window_->addSubview(toolBar_);

    auto runButton =
        std::make_shared<BarButtonItem>("Pause", BarButtonItemStyle::Bordered, [this] { toggleRun(); });
    runButton->setWidth(kRunButtonWidth);
    runButton->setIdentifier("run");
    auto flexibleSpace = std::make_shared<BarButtonItem>(platform::BarButtonSystemItem::FlexibleSpace);
    flexibleSpace->setWidth(kFlexibleSpaceWidth);
    auto settingsButton = std::make_shared<BarButtonItem>("Settings", BarButtonItemStyle::Bordered,
                                                          [this] { toggleSettings(); });
    settingsButton->setWidth(kSettingsButtonWidth);
    settingsButton->setIdentifier("settings");
    toolBar_->setItems({runButton, flexibleSpace, settingsButton});

    setAnimationView(std::make_shared<platform::View>(kAnimationViewFrame));
    setTremView(std::make_shared<TremView>(kTremViewFrame));
    window_->addSubview(animationView_);
    animationView_->addSubview(tremView_);

    settingsView_->setBackgroundColor(platform::Color::groupTableViewBackgroundColor());
    window_->makeKeyAndVisible();

    loadSettings();

    lastAcceleration = {0.0, 0.0, 0.0};
    filter = {0.0, 0.0, 0.0};

    updatingIsEnabled = true;
    animating = false;
    settingsOpen = false;
    lastRunState = true;

    platform::Accelerometer& accelerometer = platform::Accelerometer::sharedAccelerometer();
    accelerometer.setUpdateInterval(updateInterval(settingsUpdateFrequency));
    accelerometer.setDelegate(this);
}

void TrembitAppDelegate::accelerometerDidAccelerate(platform::Accelerometer& accelerometer,
                                                    const platform::Acceleration& acceleration) {
    if (!updatingIsEnabled) {
        return;
    }
    const float value =
        conditionSample(acceleration, lastAcceleration, filter, settingsFilter, settingsAxis, settingsScale);
    tremView_->handleMove(value);
    accelerometer.sampleRecorded(value);
}

void TrembitAppDelegate::toggleRun() {
    toolBar_->items()[kRunButtonIndex]->setTitle(updatingIsEnabled ? "Resume" : "Pause");
    updatingIsEnabled = !updatingIsEnabled;
}

void TrembitAppDelegate::toggleSettings() {
    if (animating) {
        return;
    }
    animating = true;

    const std::shared_ptr<BarButtonItem>& settingsButton = toolBar_->items()[kSettingsButtonIndex];
    if (settingsOpen) {
        settingsButton->setTitle("Settings");
        settingsButton->setStyle(BarButtonItemStyle::Bordered);
    } else {
        settingsButton->setTitle("Save");
        settingsButton->setStyle(BarButtonItemStyle::Done);
    }

    if (!settingsOpen) {
        const std::shared_ptr<BarButtonItem>& runButton = toolBar_->items()[kRunButtonIndex];
        runButton->setEnabled(false);
        runButton->setTitle("Resume");
        lastRunState = updatingIsEnabled;
    } else {
        saveSettings();
    }

    // Nothing is recorded while the settings page shows or either page turn runs.
    updatingIsEnabled = false;

    platform::Animator& animator = platform::Application::shared().animator();
    animator.beginAnimations("");
    animator.setAnimationDuration(kPageTurnSeconds);
    animator.setAnimationDelegate(this);
    animator.setAnimationDidStopSelector(&platform::AnimationDelegate::animationDidStop);
    animator.setAnimationTransition(settingsOpen ? platform::AnimationTransition::CurlDown
                                                 : platform::AnimationTransition::CurlUp,
                                    *animationView_, true);
    if (settingsOpen) {
        settingsView_->removeFromSuperview();
        animationView_->addSubview(tremView_);
    } else {
        tremView_->removeFromSuperview();
        animationView_->addSubview(settingsView_);
    }
    animator.commitAnimations();

    settingsOpen = !settingsOpen;
}

void TrembitAppDelegate::animationDidStop(const std::string&) {
    animating = false;
    if (settingsOpen) {
        return;
    }
    const std::shared_ptr<BarButtonItem>& runButton = toolBar_->items()[kRunButtonIndex];
    runButton->setTitle(lastRunState ? "Pause" : "Resume");
    runButton->setEnabled(true);
    updatingIsEnabled = lastRunState;
}

void TrembitAppDelegate::loadSettings() {
    for (const Setting& setting : kSettings) {
        this->*setting.field = setting.defaultValue;
    }
    platform::Preferences& preferences = platform::Application::shared().preferences();
    for (const Setting& setting : kSettings) {
        const std::optional<std::int32_t> stored = preferences.copyValue(setting.key);
        if (!stored) {
            continue;
        }
        (this->*setting.control)->setSelectedSegmentIndex(*stored);
        this->*setting.field = *stored;
    }
}

void TrembitAppDelegate::saveSettings() {
    platform::Preferences& preferences = platform::Application::shared().preferences();
    for (const Setting& setting : kSettings) {
        const std::int32_t n = (this->*setting.control)->selectedSegmentIndex();
        preferences.setValue(setting.key, n);
        this->*setting.field = n;
    }
    preferences.synchronize();
}

std::vector<std::string> TrembitAppDelegate::requiredOutlets() const {
    return {"window",       "settingsView", "filterControl", "updateFrequencyControl",
            "scaleControl", "axisControl"};
}

bool TrembitAppDelegate::connectOutlet(std::string_view name, const std::shared_ptr<platform::View>& object) {
    if (name == "window") {
        auto window = std::dynamic_pointer_cast<platform::Window>(object);
        setWindow(window);
        return window != nullptr;
    }
    if (name == "settingsView") {
        setSettingsView(object);
        return object != nullptr;
    }
    for (const Setting& setting : kSettings) {
        if (name == std::string(setting.key) + "Control") {
            auto control = std::dynamic_pointer_cast<platform::SegmentedControl>(object);
            this->*setting.control = control;
            return control != nullptr;
        }
    }
    return false;
}

void TrembitAppDelegate::writeState(platform::JsonWriter& json) const {
    json.beginObject("settings");
    for (const Setting& setting : kSettings) {
        json.integer(setting.key, this->*setting.field);
    }
    json.endObject();

    json.beginObject("controls");
    for (const Setting& setting : kSettings) {
        const auto& control = this->*setting.control;
        json.integer(setting.key, control ? control->selectedSegmentIndex() : -1);
    }
    json.endObject();

    json.number("updateInterval", platform::Accelerometer::sharedAccelerometer().updateInterval(), "%.17g");

    json.beginObject("flags");
    json.boolean("updatingIsEnabled", updatingIsEnabled);
    json.boolean("animating", animating);
    json.boolean("settingsOpen", settingsOpen);
    json.boolean("lastRunState", lastRunState);
    json.endObject();

    const bool settingsShown =
        settingsView_ && animationView_ && settingsView_->superview() == animationView_.get();
    json.string("page", settingsShown ? "settings" : "recorder");

    json.beginArray("toolbar");
    if (toolBar_) {
        for (const std::shared_ptr<BarButtonItem>& item : toolBar_->items()) {
            json.beginObject();
            json.string("title", item->title());
            json.string("shownTitle", item->shownTitle());
            json.integer("style", static_cast<int>(item->style()));
            json.boolean("enabled", item->isEnabled());
            json.endObject();
        }
    }
    json.endArray();

    json.beginArray("lastAcceleration");
    for (const double v : lastAcceleration) {
        json.number("", v, "%.17g");
    }
    json.endArray();
    json.beginArray("filter");
    for (const double v : filter) {
        json.number("", v, "%.17g");
    }
    json.endArray();

    if (tremView_) {
        const GraphView& graph = *tremView_->graphView();
        json.beginObject("trace");
        json.integer("nextIndex", graph.nextIndex());
        json.beginArray("history");
        for (const float v : graph.history()) {
            json.number("", v, "%.9g");
        }
        json.endArray();
        json.endObject();
        json.number("needleAngle", tremView_->needleView()->layer().rotationZ(), "%.9g");
        json.number("paperOffset", tremView_->paperView()->layer().translation().y, "%.9g");
    }
}
