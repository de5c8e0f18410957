#pragma once

// The accelerometer of a game controller, read through SDL.
//
// Two layers: ControllerDevices is what the source needs from the controllers (list, open, read the
// newest accelerometer reading), and SdlControllerDevices does it with SDL; ControllerSource turns the
// readings into samples, follows the controller being pulled out and plugged back in, and can be
// driven by a fake in tests.
//
// Axes. SDL describes a controller held in front of you in the usual grip: +x to the right, +y up out
// of the face with the sticks and buttons, +z toward the player; and it reports the force that holds
// the controller up, so one at rest reads 9.8 m/s² away from the earth. The recorder's axes are those
// of a device lying on its back: x to the right, y toward its top edge, z out of its face, with gravity
// counted downward, so lying flat reads (0, 0, −1) g. Seen from above, a controller on a table has its
// face up, its shoulder buttons along the top edge and its grips toward the player, so the recorder's
// x, y, z are SDL's x, −z, y (a quarter turn about x, not a mirror image), and every component is
// negated to count gravity downward:
//
//     x = −sdl.x / g      y = +sdl.z / g      z = −sdl.y / g
//
// Flat on a table, SDL reads (0, +9.8, 0) and the sample is (0, 0, −1) g; stood on its grips with the
// shoulder buttons up it reads (0, 0, −9.8) and the sample is (0, −1, 0) g, as a device held upright
// in front of you would.

#include "platform/services/Acceleration.h"
#include "platform/services/SampleSource.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

typedef struct _SDL_GameController SDL_GameController;

namespace platform {

/// One connected game controller.
struct ControllerInfo {
    int index = 0;                 ///< Its place among the connected game controllers, from 0.
    std::string name;              ///< As the driver names it, e.g. "PS5 Controller".
    bool hasAccelerometer = false; ///< Whether it reports acceleration.
};

/// The game controllers, as the source sees them: one open at a time.
class ControllerDevices {
public:
    /// A reading: the driver's timestamp in microseconds (0 when the driver does not stamp its
    /// readings) and the acceleration along the controller's x, y, z in m/s², gravity included.
    using Reading = std::pair<std::uint64_t, std::array<float, 3>>;

    virtual ~ControllerDevices() = default;

    /// The game controllers connected now, in index order.
    virtual std::vector<ControllerInfo> list() = 0;
    /// Opens the controller at `index` (as list() numbers them) and turns its accelerometer on; the
    /// one open before is closed. False, with the one before still open, if it is not there, cannot be
    /// opened or has no accelerometer.
    virtual bool open(int index) = 0;
    /// Whether the open controller is still connected; false when none is open.
    virtual bool attached() = 0;
    /// The open controller's newest accelerometer reading; none while it is disconnected or has not
    /// reported yet. Asking twice without a new report gives the same reading again.
    virtual std::optional<Reading> latestAccel() = 0;
    /// The open controller's accelerometer rate in readings per second; 0 when the driver does not say.
    virtual float dataRate() = 0;
};

/// A reading in m/s² on SDL's controller axes, as a sample in g on the recorder's (see the top of
/// this file).
Acceleration accelerationFromController(const std::array<float, 3>& metresPerSecondSquared);

/// Keeps SDL's game controller and sensor subsystems up for its lifetime, with controllers read even
/// while no window of ours has the focus (or there is no window at all). Guards nest, as SDL counts
/// the users of each subsystem.
class SdlControllerGuard {
public:
    /// Throws std::runtime_error with SDL's message if the subsystems cannot be started.
    SdlControllerGuard();
    ~SdlControllerGuard();
    SdlControllerGuard(const SdlControllerGuard&) = delete;
    SdlControllerGuard& operator=(const SdlControllerGuard&) = delete;

private:
    // The sensor event is turned off while we run (we read the state instead, and hundreds of events a
    // second would keep waking the window's event wait); this is what it was before.
    std::uint8_t previousSensorEventState_ = 0;
};

/// SDL_GameControllerClose as a unique_ptr deleter: the one place a controller handle is released.
struct SdlControllerCloser {
    void operator()(SDL_GameController* controller) const;
};

using SdlControllerPtr = std::unique_ptr<SDL_GameController, SdlControllerCloser>;

/// The game controllers SDL sees. Call from one thread only (the main one): SDL's controller state is
/// updated on each call that reads it.
class SdlControllerDevices final : public ControllerDevices {
public:
    /// Throws std::runtime_error with SDL's message if SDL's controller support cannot be started.
    SdlControllerDevices() = default;

    /// Telling whether a controller has an accelerometer means opening it, so each connected
    /// controller is opened once, briefly, and the answer kept while it stays connected.
    std::vector<ControllerInfo> list() override;
    bool open(int index) override;
    bool attached() override;
    std::optional<Reading> latestAccel() override;
    float dataRate() override;

private:
    /// SDL's joystick device index of the game controller at `index`; none if there is no such one.
    static std::optional<int> deviceIndexOf(int index);
    bool probeAccelerometer(int deviceIndex);

    // Declared first so it outlives the controller handle.
    SdlControllerGuard guard_;
    SdlControllerPtr controller_;
    std::map<std::int32_t, bool> accelerometerByInstance_; ///< Keyed by SDL's joystick instance id.
};

/// Samples from a game controller's accelerometer, read on the calling thread at each tick.
///
/// Each tick gets the newest reading the controller made since the last tick, or nothing when it made
/// none. A controller that is pulled out is reported once on stderr; from then on the source looks for
/// a controller with an accelerometer every kReconnectScanSeconds and takes the first it finds, saying
/// so once. The source never ends.
class ControllerSource final : public SampleSource {
public:
    /// While disconnected, the controllers are listed at most this often, in seconds of `now`.
    static constexpr double kReconnectScanSeconds = 0.5;

    /// Opens the controller at `index` (as ControllerDevices::list() numbers them), or the first with an
    /// accelerometer when none is given. Takes ownership of `devices`, which must not be null. Throws
    /// std::runtime_error saying why when there is no such controller, it has no accelerometer, or it
    /// cannot be opened.
    ControllerSource(std::unique_ptr<ControllerDevices> devices, std::optional<int> index);

    /// The newest reading since the last call, in g on the recorder's axes; none when there is no new
    /// one or no controller.
    std::optional<Acceleration> nextSample(double now) override;
    /// "controller:" and the index of the controller in use.
    std::string description() const override;

    /// What the user should know at start: the controller, its name and its accelerometer's rate. One
    /// line starting "trembit: ", without a final line break.
    std::string startMessage() const;
    /// The index of the controller in use (the last one, while disconnected).
    int index() const { return current_.index; }
    /// Whether the controller in use is connected.
    bool connected() const { return connected_; }

private:
    /// "controller:<index> (<name>)".
    std::string label() const;
    /// "accelerometer at <rate> samples per second", or a note that the rate is not known.
    std::string rateText() const;
    /// Lists the controllers if a scan is due at `now` and opens the first with an accelerometer.
    bool reconnect(double now);

    std::unique_ptr<ControllerDevices> devices_;
    ControllerInfo current_;
    float rate_ = 0.0f; ///< Readings per second, 0 when not known.
    bool connected_ = true;
    double nextScan_ = 0.0;                      ///< While disconnected, when to list the controllers next.
    std::optional<std::uint64_t> lastTimestamp_; ///< Of the last reading delivered since (re)opening.
};

} // namespace platform
