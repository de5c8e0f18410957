#include "platform/backend/ControllerSource.h"

#include "tests/support/Files.h"

#include <SDL.h>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

namespace platform {
namespace {

constexpr float kG = SDL_STANDARD_GRAVITY;
using Reading = ControllerDevices::Reading;

/// Fake controllers whose state the test changes between ticks.
struct FakeDevices final : ControllerDevices {
    explicit FakeDevices(std::vector<ControllerInfo> connected, float rate = 200.0f)
        : controllers(std::move(connected)), rate(rate) {}
    std::vector<ControllerInfo> list() override {
        ++listCalls;
        return controllers;
    }
    bool open(int index) override {
        const bool opens = !refusingToOpen.contains(index) && std::ranges::any_of(controllers, [&](auto& c) {
            return c.index == index && c.hasAccelerometer;
        });
        opened = opens ? index : opened;
        plugged = plugged || opens;
        return opens;
    }
    bool attached() override { return opened >= 0 && plugged; }
    std::optional<Reading> latestAccel() override { return attached() ? reading : std::nullopt; }
    float dataRate() override { return rate; }

    std::vector<ControllerInfo> controllers;
    float rate;
    std::set<int> refusingToOpen = {3}; ///< Indexes whose open() fails.
    int opened = -1;
    bool plugged = true;
    std::optional<Reading> reading;
    int listCalls = 0;
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
        std::string said; // the start message, or the error
        float rate = 0.0f;
    } cases[] = {
        {three, std::nullopt,
         "trembit: source: controller:1 (Motion Pad), accelerometer at 62.5 samples per second", 62.5f},
        {three, 2,
         "trembit: source: controller:2 (Other Motion Pad), accelerometer at a rate it does not say"},
        {{kPadWithout}, std::nullopt, "no game controller with an accelerometer is connected"},
        {{kPadWithout, {3, "Pad", false}}, 3, "controller 3 has no accelerometer"},
        {{kPadWithout, kPadWith},
         5,
         "controller 5 is not connected (connected: controller:0 (Plain Pad) controller:1 (Motion Pad))"},
        {{stubborn}, std::nullopt, "cannot open controller:3 (Stubborn Pad) or turn its accelerometer on"},
    };
    for (const auto& c : cases) {
        auto devices = std::make_unique<FakeDevices>(c.controllers, c.rate);
        const FakeDevices& world = *devices;
        try {
            const ControllerSource source(std::move(devices), c.index);
            EXPECT_EQ(source.startMessage(), c.said);
            EXPECT_EQ(source.description(), "controller:" + std::to_string(world.opened)) << c.said;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(error.what(), c.said);
        }
    }
}

// Distinct values on each axis pin the turn and the signs. Computed in double from SDL's own g, so
// whole multiples of g come out exact, not one float step off.
TEST(ControllerSourceTest, ReadingsTurnIntoGOnTheRecordersAxes) {
    const Acceleration a = accelerationFromController({-2.0f * kG, kG, 4.0f * kG});
    EXPECT_EQ(std::tuple(a.x, a.y, a.z), std::tuple(2.0, 4.0, -1.0));
}

// A source on the Motion Pad, which the test feeds through `world`.
class OnAMotionPadTest : public ::testing::Test {
protected:
    std::unique_ptr<FakeDevices> devices_ = std::make_unique<FakeDevices>(std::vector{kPadWithout, kPadWith});
    FakeDevices& world = *devices_;
    ControllerSource source{std::move(devices_), std::nullopt};
};

TEST_F(OnAMotionPadTest, EachTickGetsTheNewestReadingOrNothing) {
    const struct {
        const char* what;
        std::optional<Reading> latest; // what the controller holds at this tick
        double z;                      // 0: nothing delivered
    } ticks[] = {
        {"no reading yet", std::nullopt, 0.0},
        {"first reading", Reading{1000, {0, kG, 0}}, -1.0},
        {"no new reading: not given twice", Reading{1000, {0, kG, 0}}, 0.0},
        {"several since: the newest", Reading{16000, {0, 2 * kG, 0}}, -2.0},
        {"a new reading of the same value", Reading{21000, {0, 2 * kG, 0}}, -2.0},
        {"unstamped: taken at every tick", Reading{0, {0, 4 * kG, 0}}, -4.0},
        {"unstamped again", Reading{0, {0, 4 * kG, 0}}, -4.0},
    };
    double now = 0.0;
    for (const auto& tick : ticks) {
        world.reading = tick.latest;
        const std::optional<Acceleration> sample = source.nextSample(now += 0.025);
        EXPECT_EQ(sample ? sample->z : 0.0, tick.z) << tick.what;
    }
}

TEST_F(OnAMotionPadTest, PulledOutIsSaidOnceAndAControllerPluggedInIsPickedUpAtTheNextScan) {
    // The controller's newest reading: `yInMs2` on SDL's y axis (the sample's z is −yInMs2 / g).
    const auto report = [&](std::uint64_t us, float yInMs2) { world.reading = Reading{us, {0, yInMs2, 0}}; };
    report(5000, kG);
    ASSERT_TRUE(source.nextSample(1.0).has_value());

    world.plugged = false;
    world.controllers = {kPadWithout};
    const int listsBefore = world.listCalls;
    EXPECT_EQ(testing_support::stderrOf([&] {
                  for (int tick = 1; tick <= 17; ++tick) { // 1.0625 to 2.0625: scans at 1.5625 and 2.0625
                      report(5000 + tick, kG);             // whatever it still held must not leak through
                      EXPECT_FALSE(source.nextSample(1.0 + tick * 0.0625).has_value()) << "tick " << tick;
                  }
              }),
              "trembit: controller:1 (Motion Pad) was disconnected\n");
    EXPECT_EQ(world.listCalls, listsBefore + 2);
    EXPECT_FALSE(source.isExhausted());

    // Plugged in: one that will not open, then one that does, whose clock gives the stamp last seen.
    world.controllers = {kPadWithout, kPadWith, kOtherPadWith};
    world.refusingToOpen = {1};
    world.opened = -1;
    report(5000, 0.5f * kG);
    std::optional<Acceleration> first;
    EXPECT_EQ(
        testing_support::stderrOf([&] {
            EXPECT_FALSE(source.nextSample(2.5).has_value()) << "scanned before it was due";
            first = source.nextSample(2.5625);
            EXPECT_FALSE(source.nextSample(2.625).has_value()) << "the first reading given twice";
            world.plugged = false;
            EXPECT_FALSE(source.nextSample(2.6875).has_value());
        }),
        "trembit: controller:2 (Other Motion Pad) was connected, accelerometer at 200 samples per second\n"
        "trembit: controller:2 (Other Motion Pad) was disconnected\n");
    EXPECT_EQ(first.value_or(Acceleration{}).z, -0.5) << "nothing from the new controller";
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
    const SDL_JoystickID stick =
        plugVirtual("Test Stick", SDL_JOYSTICK_TYPE_FLIGHT_STICK); // not a controller
    const SDL_JoystickID pad = plugVirtual("Test Pad", SDL_JOYSTICK_TYPE_GAMECONTROLLER);
    ASSERT_TRUE(stick >= 0 && pad >= 0) << SDL_GetError();

    const std::vector<ControllerInfo> controllers = devices->list();
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(std::tie(controllers[0].index, controllers[0].name, controllers[0].hasAccelerometer),
              std::tuple(0, "Test Pad", false))
        << "numbered among the game controllers only";
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
