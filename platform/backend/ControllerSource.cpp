#include "platform/backend/ControllerSource.h"

#include <SDL.h>
#include <algorithm>
#include <cassert>
#include <charconv>
#include <iostream>
#include <stdexcept>

namespace platform {

namespace {

constexpr Uint32 kSubsystems = SDL_INIT_GAMECONTROLLER | SDL_INIT_SENSOR;

// Shortest text that reads back as the same float: 200, 62.5, 833.3333.
std::string formatRate(float rate) {
    std::array<char, 64> text;
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), rate);
    if (error != std::errc()) {
        return "?";
    }
    return std::string(text.data(), end);
}

std::string indexText(int index) {
    return std::to_string(index);
}

} // namespace

Acceleration accelerationFromController(const std::array<float, 3>& metresPerSecondSquared) {
    // SDL's own value of g: a reading of exactly SDL_STANDARD_GRAVITY becomes exactly one g.
    const double g = static_cast<double>(SDL_STANDARD_GRAVITY);
    const double x = static_cast<double>(metresPerSecondSquared[0]);
    const double y = static_cast<double>(metresPerSecondSquared[1]);
    const double z = static_cast<double>(metresPerSecondSquared[2]);
    return Acceleration{-x / g, z / g, -y / g};
}

// ---- SDL ----

SdlControllerGuard::SdlControllerGuard() {
    // Without this SDL drops controller input while another program has the focus, and a recorder
    // with no window of its own never has it.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(kSubsystems) != 0) {
        throw std::runtime_error(std::string("Cannot start SDL's game controller support: ") +
                                 SDL_GetError());
    }
    previousSensorEventState_ = SDL_EventState(SDL_CONTROLLERSENSORUPDATE, SDL_IGNORE);
}

SdlControllerGuard::~SdlControllerGuard() {
    SDL_EventState(SDL_CONTROLLERSENSORUPDATE,
                   previousSensorEventState_ == SDL_ENABLE ? SDL_ENABLE : SDL_IGNORE);
    SDL_QuitSubSystem(kSubsystems);
}

void SdlControllerCloser::operator()(SDL_GameController* controller) const {
    SDL_GameControllerClose(controller);
}

std::optional<int> SdlControllerDevices::deviceIndexOf(int index) {
    if (index < 0) {
        return std::nullopt;
    }
    int seen = 0;
    const int count = SDL_NumJoysticks();
    for (int device = 0; device < count; ++device) {
        if (SDL_IsGameController(device) == SDL_TRUE) {
            if (seen == index) {
                return device;
            }
            ++seen;
        }
    }
    return std::nullopt;
}

bool SdlControllerDevices::probeAccelerometer(int deviceIndex) {
    const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(deviceIndex);
    if (const auto known = accelerometerByInstance_.find(instance); known != accelerometerByInstance_.end()) {
        return known->second;
    }
    // SDL counts opens, so this is harmless for the controller we already hold.
    const SdlControllerPtr probe(SDL_GameControllerOpen(deviceIndex));
    if (!probe) {
        return false; // not remembered: it may open next time (permissions fixed, driver ready)
    }
    const bool has = SDL_GameControllerHasSensor(probe.get(), SDL_SENSOR_ACCEL) == SDL_TRUE;
    accelerometerByInstance_[instance] = has;
    return has;
}

std::vector<ControllerInfo> SdlControllerDevices::list() {
    SDL_GameControllerUpdate(); // notices controllers plugged in or pulled out since the last look
    std::vector<ControllerInfo> controllers;
    std::map<std::int32_t, bool> stillConnected;
    const int count = SDL_NumJoysticks();
    for (int device = 0; device < count; ++device) {
        if (SDL_IsGameController(device) != SDL_TRUE) {
            continue;
        }
        ControllerInfo info;
        info.index = static_cast<int>(controllers.size());
        const char* name = SDL_GameControllerNameForIndex(device);
        info.name = name != nullptr ? name : "unnamed controller";
        info.hasAccelerometer = probeAccelerometer(device);
        const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(device);
        if (const auto known = accelerometerByInstance_.find(instance);
            known != accelerometerByInstance_.end()) {
            stillConnected.insert(*known);
        }
        controllers.push_back(std::move(info));
    }
    // Instance ids are never reused, so answers for controllers gone away are only clutter.
    accelerometerByInstance_ = std::move(stillConnected);
    return controllers;
}

bool SdlControllerDevices::open(int index) {
    SDL_GameControllerUpdate();
    const std::optional<int> device = deviceIndexOf(index);
    if (!device) {
        return false;
    }
    SdlControllerPtr controller(SDL_GameControllerOpen(*device));
    if (!controller || SDL_GameControllerHasSensor(controller.get(), SDL_SENSOR_ACCEL) != SDL_TRUE ||
        SDL_GameControllerSetSensorEnabled(controller.get(), SDL_SENSOR_ACCEL, SDL_TRUE) != 0) {
        return false;
    }
    controller_ = std::move(controller);
    return true;
}

bool SdlControllerDevices::attached() {
    if (!controller_) {
        return false;
    }
    SDL_GameControllerUpdate();
    return SDL_GameControllerGetAttached(controller_.get()) == SDL_TRUE;
}

std::optional<ControllerDevices::Reading> SdlControllerDevices::latestAccel() {
    if (!controller_) {
        return std::nullopt;
    }
    // Nothing else may pump SDL's events (there may be no window), so the controller's state is
    // brought up to date here.
    SDL_GameControllerUpdate();
    if (SDL_GameControllerGetAttached(controller_.get()) != SDL_TRUE) {
        return std::nullopt;
    }
    Uint64 timestamp = 0;
    std::array<float, 3> values{};
    if (SDL_GameControllerGetSensorDataWithTimestamp(controller_.get(), SDL_SENSOR_ACCEL, &timestamp,
                                                     values.data(), static_cast<int>(values.size())) != 0) {
        return std::nullopt;
    }
    // An accelerometer at rest still feels gravity: all zeros without a timestamp is SDL's empty state
    // before the first report, not a reading.
    if (timestamp == 0 && std::all_of(values.begin(), values.end(), [](float v) { return v == 0.0f; })) {
        return std::nullopt;
    }
    return Reading{static_cast<std::uint64_t>(timestamp), values};
}

float SdlControllerDevices::dataRate() {
    if (!controller_) {
        return 0.0f;
    }
    return SDL_GameControllerGetSensorDataRate(controller_.get(), SDL_SENSOR_ACCEL);
}

// ---- The source ----

ControllerSource::ControllerSource(std::unique_ptr<ControllerDevices> devices, std::optional<int> index)
    : devices_(std::move(devices)) {
    assert(devices_ != nullptr);
    const std::vector<ControllerInfo> controllers = devices_->list();
    const auto chosen = std::find_if(controllers.begin(), controllers.end(), [&](const ControllerInfo& info) {
        return index ? info.index == *index : info.hasAccelerometer;
    });
    if (chosen == controllers.end()) {
        if (!index) {
            throw std::runtime_error("no game controller with an accelerometer is connected");
        }
        std::string message = "controller " + indexText(*index) + " is not connected";
        if (!controllers.empty()) {
            message += " (connected:";
            for (const ControllerInfo& info : controllers) {
                message += " controller:" + indexText(info.index) + " (" + info.name + ")";
            }
            message += ")";
        }
        throw std::runtime_error(message);
    }
    if (!chosen->hasAccelerometer) {
        throw std::runtime_error("controller " + indexText(chosen->index) + " has no accelerometer");
    }
    current_ = *chosen;
    if (!devices_->open(current_.index)) {
        throw std::runtime_error("cannot open " + label() + " or turn its accelerometer on");
    }
    rate_ = devices_->dataRate();
}

std::string ControllerSource::label() const {
    return description() + " (" + current_.name + ")";
}

std::string ControllerSource::description() const {
    return "controller:" + indexText(current_.index);
}

std::string ControllerSource::rateText() const {
    if (!(rate_ > 0.0f)) {
        return "accelerometer at a rate it does not say";
    }
    return "accelerometer at " + formatRate(rate_) + " samples per second";
}

std::string ControllerSource::startMessage() const {
    return "trembit: source: " + label() + ", " + rateText();
}

bool ControllerSource::reconnect(double now) {
    if (now < nextScan_) {
        return false;
    }
    nextScan_ = now + kReconnectScanSeconds;
    for (const ControllerInfo& info : devices_->list()) {
        // A controller that will not open now may be ready at the next scan; the others are tried first.
        if (info.hasAccelerometer && devices_->open(info.index)) {
            current_ = info;
            rate_ = devices_->dataRate();
            connected_ = true;
            lastTimestamp_.reset(); // the new controller's clock has nothing to do with the old one's
            std::cerr << ("trembit: " + label() + " was connected, " + rateText() + "\n") << std::flush;
            return true;
        }
    }
    return false;
}

std::optional<Acceleration> ControllerSource::nextSample(double now) {
    if (!connected_ && !reconnect(now)) {
        return std::nullopt;
    }
    const std::optional<ControllerDevices::Reading> reading = devices_->latestAccel();
    if (!reading) {
        if (!devices_->attached()) {
            connected_ = false;
            nextScan_ = now + kReconnectScanSeconds;
            std::cerr << ("trembit: " + label() + " was disconnected\n") << std::flush;
        }
        return std::nullopt;
    }
    const auto& [timestamp, values] = *reading;
    // SDL keeps only the newest reading, so a timestamp not seen before means the controller has made
    // at least one since the last tick and this is the newest of them. A driver that stamps nothing
    // leaves no way to tell, and its reading is taken at every tick.
    if (timestamp != 0 && lastTimestamp_ == timestamp) {
        return std::nullopt;
    }
    lastTimestamp_ = timestamp;
    return accelerationFromController(values);
}

} // namespace platform
