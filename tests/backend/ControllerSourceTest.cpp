#include "platform/backend/ControllerSource.h"
#include "tests/support/Files.h"

#include <SDL.h>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

namespace platform {
namespace {

constexpr float kG = SDL_STANDARD_GRAVITY;
constexpr double kTolerance = 1e-6; // g; the readings are floats
using Reading = ControllerDevices::Reading;

/// What the fake controllers show; the test changes it between ticks.
struct FakeWorld {
    std::vector<ControllerInfo> controllers;
    std::set<int> refusingToOpen; ///< Indexes whose open() fails.
    int opened = -1;
    bool attached = true;
    std::optional<Reading> reading;
    float rate = 200.0f;
    int listCalls = 0;
};

class FakeDevices final : public ControllerDevices {
public:
    explicit FakeDevices(FakeWorld& world) : world_(world) {}
    std::vector<ControllerInfo> list() override {
        ++world_.listCalls;
        return world_.controllers;
    }
    bool open(int index) override {
        const bool opens = !world_.refusingToOpen.contains(index) &&
                           std::any_of(world_.controllers.begin(), world_.controllers.end(), [&](auto& info) {
                               return info.index == index && info.hasAccelerometer;
                           });
        world_.opened = opens ? index : world_.opened;
        world_.attached = world_.attached || opens;
        return opens;
    }
    bool attached() override { return world_.opened >= 0 && world_.attached; }
    std::optional<Reading> latestAccel() override { return attached() ? world_.reading : std::nullopt; }
    float dataRate() override { return world_.rate; }

private:
    FakeWorld& world_;
};

const ControllerInfo kPadWithout{0, "Plain Pad", false};
const ControllerInfo kPadWith{1, "Motion Pad", true};
const ControllerInfo kOtherPadWith{2, "Other Motion Pad", true};

TEST(ControllerSourceTest, ChoosesTheNamedControllerOrTheFirstWithAnAccelerometerOrSaysWhyNot) {
    const ControllerInfo stubborn{3, "Stubborn Pad", true}; // will not open
    const std::vector<ControllerInfo> three = {kPadWithout, kPadWith, kOtherPadWith};
    const struct {
        std::vector<ControllerInfo> controllers;
        std::optional<int> index;
        float rate;
        std::string said; // the start message, or the error
    } cases[] = {
        {three, std::nullopt, 200.0f,
         "trembit: source: controller:1 (Motion Pad), accelerometer at 200 samples per second"},
        {three, 2, 62.5f,
         "trembit: source: controller:2 (Other Motion Pad), accelerometer at 62.5 samples per second"},
        {three, 1, 0.0f,
         "trembit: source: controller:1 (Motion Pad), accelerometer at a rate it does not say"},
        {{kPadWithout}, std::nullopt, 0, "no game controller with an accelerometer is connected"},
        {{kPadWithout, {3, "Pad", false}}, 3, 0, "controller 3 has no accelerometer"},
        {{kPadWithout, kPadWith},
         5,
         0,
         "controller 5 is not connected (connected: controller:0 (Plain Pad) controller:1 (Motion Pad))"},
        {{}, 0, 0, "controller 0 is not connected"},
        {{stubborn}, std::nullopt, 0, "cannot open controller:3 (Stubborn Pad) or turn its accelerometer on"},
    };
    for (const auto& c : cases) {
        FakeWorld world;
        world.controllers = c.controllers;
        world.refusingToOpen = {3};
        world.rate = c.rate;
        try {
            const ControllerSource source(std::make_unique<FakeDevices>(world), c.index);
            EXPECT_EQ(source.startMessage(), c.said);
            EXPECT_EQ(source.description(), "controller:" + std::to_string(world.opened)) << c.said;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(error.what(), c.said);
        }
    }
}

TEST(ControllerSourceTest, ReadingsTurnIntoGOnTheRecordersAxes) {
    const struct {
        std::array<float, 3> sdl; // m/s²
        Acceleration expected;    // g
    } cases[] = {
        {{0.0f, kG, 0.0f}, {0.0, 0.0, -1.0}},       // flat on a table, face up
        {{0.0f, 0.0f, -kG}, {0.0, -1.0, 0.0}},      // stood on its grips, shoulder buttons up
        {{-2.0f * kG, kG, 0.0f}, {2.0, 0.0, -1.0}}, // flat, jolted 2 g leftward
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sdl[0] << ", " << c.sdl[1] << ", " << c.sdl[2]);
        const Acceleration actual = accelerationFromController(c.sdl);
        EXPECT_NEAR(actual.x, c.expected.x, kTolerance);
        EXPECT_NEAR(actual.y, c.expected.y, kTolerance);
        EXPECT_NEAR(actual.z, c.expected.z, kTolerance);
    }
    // Computed in double from SDL's own g, so flat is exactly one g and not one float step off.
    EXPECT_EQ(accelerationFromController({0.0f, kG, 0.0f}).z, -1.0);
}

// A source on the Motion Pad, which the test feeds through `world`.
std::unique_ptr<ControllerSource> motionPad(FakeWorld& world) {
    world.controllers = {kPadWithout, kPadWith};
    return std::make_unique<ControllerSource>(std::make_unique<FakeDevices>(world), std::nullopt);
}

TEST(ControllerSourceTest, EachTickGetsTheNewestReadingOrNothing) {
    FakeWorld world;
    const auto source = motionPad(world);
    const struct {
        const char* what;
        std::optional<Reading> latest;   // what the controller holds at this tick
        std::optional<double> expectedZ; // none: nothing delivered
    } ticks[] = {
        {"no reading yet", std::nullopt, std::nullopt},
        {"first reading", Reading{1000, {0, kG, 0}}, -1.0},
        {"no new reading: not given twice", Reading{1000, {0, kG, 0}}, std::nullopt},
        {"several since: the newest", Reading{16000, {0, 2 * kG, 0}}, -2.0},
        {"a new reading of the same value", Reading{21000, {0, 2 * kG, 0}}, -2.0},
        {"unstamped: taken at every tick", Reading{0, {0, 3 * kG, 0}}, -3.0},
        {"unstamped again", Reading{0, {0, 3 * kG, 0}}, -3.0},
    };
    double now = 0.0;
    for (const auto& tick : ticks) {
        world.reading = tick.latest;
        const std::optional<Acceleration> sample = source->nextSample(now += 0.025);
        ASSERT_EQ(sample.has_value(), tick.expectedZ.has_value()) << tick.what;
        if (sample) {
            EXPECT_NEAR(sample->z, *tick.expectedZ, kTolerance) << tick.what;
        }
    }
}

TEST(ControllerSourceTest, PulledOutIsSaidOnceAndAControllerPluggedInIsPickedUpAtTheNextScan) {
    FakeWorld world;
    const auto source = motionPad(world);
    // The controller's newest reading: `yInMs2` on SDL's y axis (the sample's z is −yInMs2 / g).
    const auto report = [&](std::uint64_t us, float yInMs2) { world.reading = Reading{us, {0, yInMs2, 0}}; };
    report(5000, kG);
    ASSERT_TRUE(source->nextSample(1.0).has_value());

    world.attached = false;
    world.controllers = {kPadWithout};
    const int listsBefore = world.listCalls;
    constexpr double kTick = 0.0625; // exact in binary, so the times below compare exactly
    testing::internal::CaptureStderr();
    for (int tick = 1; tick <= 17; ++tick) { // 1.0625 to 2.0625: scans at 1.5625 and 2.0625
        report(5000 + tick, kG);             // whatever it still held must not leak through
        EXPECT_FALSE(source->nextSample(1.0 + tick * kTick).has_value()) << "tick " << tick;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "trembit: controller:1 (Motion Pad) was disconnected\n");
    EXPECT_EQ(world.listCalls, listsBefore + 2);
    EXPECT_FALSE(source->connected());
    EXPECT_FALSE(source->isExhausted());

    // Plugged in: one that will not open, then one that does, whose clock gives the stamp last seen.
    world.controllers = {kPadWithout, kPadWith, kOtherPadWith};
    world.refusingToOpen = {1};
    world.opened = -1;
    report(5000, 0.5f * kG);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(source->nextSample(2.5).has_value()) << "scanned before it was due";
    const std::optional<Acceleration> first = source->nextSample(2.5625);
    EXPECT_FALSE(source->nextSample(2.625).has_value()) << "the first reading given twice";
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "trembit: controller:2 (Other Motion Pad) was connected, accelerometer at 200 samples per second\n");
    ASSERT_TRUE(first.has_value()) << "nothing from the new controller";
    EXPECT_NEAR(first->z, -0.5, kTolerance);
    EXPECT_EQ(source->description(), "controller:2");

    world.attached = false;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(source->nextSample(2.6875).has_value());
    EXPECT_FALSE(source->nextSample(2.75).has_value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "trembit: controller:2 (Other Motion Pad) was disconnected\n");
}

// ---- SDL itself, with no controller hardware ----

/// Plugs in a device SDL makes up and returns its instance id, or −1. SDL 2.26 gives such devices no
/// sensors, so they can only stand for controllers without an accelerometer.
SDL_JoystickID plugVirtual(const char* name, SDL_JoystickType type) {
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = static_cast<Uint16>(type);
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = name;
    const int device = SDL_JoystickAttachVirtualEx(&desc);
    return device < 0 ? -1 : SDL_JoystickGetDeviceInstanceID(device);
}

// Device indexes shift as devices come and go; the instance id is what stays ours.
void unplugVirtual(SDL_JoystickID instance) {
    for (int device = 0; device < SDL_NumJoysticks(); ++device) {
        if (SDL_JoystickGetDeviceInstanceID(device) == instance) {
            SDL_JoystickDetachVirtual(device);
            return;
        }
    }
}

TEST(SdlControllerDevicesTest, ListsControllersWithoutAnAccelerometerAndNotesTheirGoing) {
    std::unique_ptr<SdlControllerDevices> devices;
    try {
        devices = std::make_unique<SdlControllerDevices>();
    } catch (const std::runtime_error& error) {
        GTEST_SKIP() << "SDL's controller support cannot start here: " << error.what();
    }
    if (!devices->list().empty() || SDL_NumJoysticks() > 0) {
        GTEST_SKIP() << "a joystick is connected to this machine";
    }
    EXPECT_FALSE(devices->open(0));
    EXPECT_FALSE(devices->latestAccel().has_value());
    const SDL_JoystickID stick =
        plugVirtual("Test Stick", SDL_JOYSTICK_TYPE_FLIGHT_STICK); // not a controller
    const SDL_JoystickID pad = plugVirtual("Test Pad", SDL_JOYSTICK_TYPE_GAMECONTROLLER);
    ASSERT_TRUE(stick >= 0 && pad >= 0) << SDL_GetError();

    const std::vector<ControllerInfo> controllers = devices->list();
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].index, 0) << "numbered among the game controllers only";
    EXPECT_EQ(controllers[0].name, "Test Pad");
    EXPECT_FALSE(controllers[0].hasAccelerometer);
    EXPECT_FALSE(devices->list().at(0).hasAccelerometer) << "the remembered answer differs";
    EXPECT_FALSE(devices->open(0)) << "opened a controller with no accelerometer";
    EXPECT_EQ(testing_support::errorOf([] { ControllerSource(std::make_unique<SdlControllerDevices>(), 0); }),
              "controller 0 has no accelerometer");

    unplugVirtual(pad);
    EXPECT_TRUE(devices->list().empty()) << "still listed after it was pulled out";
    const SDL_JoystickID again = plugVirtual("Test Pad", SDL_JOYSTICK_TYPE_GAMECONTROLLER);
    EXPECT_EQ(devices->list().size(), 1u) << "not listed when plugged back in";
    unplugVirtual(again);
    unplugVirtual(stick);
}

} // namespace
} // namespace platform
