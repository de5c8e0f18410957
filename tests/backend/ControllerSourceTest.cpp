#include "platform/backend/ControllerSource.h"

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

/// What the fake controllers show; the test changes it between ticks.
struct FakeWorld {
    std::vector<ControllerInfo> controllers;
    std::set<int> refusingToOpen; ///< Indexes whose open() fails.
    int opened = -1;
    bool attached = true;
    std::optional<ControllerDevices::Reading> reading;
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

std::string errorFrom(std::unique_ptr<ControllerDevices> devices, std::optional<int> index) {
    try {
        ControllerSource source(std::move(devices), index);
        return "no error";
    } catch (const std::runtime_error& error) {
        return error.what();
    }
}

TEST(ControllerSourceTest, ChoosesTheNamedControllerOrTheFirstWithAnAccelerometer) {
    const struct {
        const char* what;
        std::optional<int> index;
        float rate;
        int expectedIndex;
        std::string expectedMessage;
    } cases[] = {
        {"first with an accelerometer, past one without", std::nullopt, 200.0f, 1,
         "trembit: source: controller:1 (Motion Pad), accelerometer at 200 samples per second"},
        {"named by index, not the first", 2, 62.5f, 2,
         "trembit: source: controller:2 (Other Motion Pad), accelerometer at 62.5 samples per second"},
        {"a rate the driver does not say", 1, 0.0f, 1,
         "trembit: source: controller:1 (Motion Pad), accelerometer at a rate it does not say"},
    };
    for (const auto& c : cases) {
        FakeWorld world;
        world.controllers = {kPadWithout, kPadWith, kOtherPadWith};
        world.rate = c.rate;
        const ControllerSource source(std::make_unique<FakeDevices>(world), c.index);
        EXPECT_EQ(world.opened, c.expectedIndex) << c.what;
        EXPECT_EQ(source.description(), "controller:" + std::to_string(c.expectedIndex)) << c.what;
        EXPECT_EQ(source.startMessage(), c.expectedMessage) << c.what;
    }
}

TEST(ControllerSourceTest, SaysWhyNoControllerCanBeUsed) {
    const struct {
        const char* what;
        std::vector<ControllerInfo> controllers;
        std::optional<int> index;
        std::set<int> refusing;
        std::string expected;
    } cases[] = {
        {"nothing connected", {}, std::nullopt, {}, "no game controller with an accelerometer is connected"},
        {"none with an accelerometer",
         {kPadWithout},
         std::nullopt,
         {},
         "no game controller with an accelerometer is connected"},
        {"the named one has none",
         {kPadWithout, {3, "Pad", false}},
         3,
         {},
         "controller 3 has no accelerometer"},
        {"the named one is not there",
         {kPadWithout, kPadWith},
         5,
         {},
         "controller 5 is not connected (connected: controller:0 (Plain Pad) controller:1 (Motion Pad))"},
        {"the named one is not there, nor any other", {}, 0, {}, "controller 0 is not connected"},
        {"it will not open",
         {kPadWith},
         std::nullopt,
         {1},
         "cannot open controller:1 (Motion Pad) or turn its accelerometer on"},
    };
    for (const auto& c : cases) {
        FakeWorld world;
        world.controllers = c.controllers;
        world.refusingToOpen = c.refusing;
        EXPECT_EQ(errorFrom(std::make_unique<FakeDevices>(world), c.index), c.expected) << c.what;
    }
}

TEST(ControllerSourceTest, ReadingsTurnIntoGOnTheRecordersAxes) {
    const double root3Over2 = std::sqrt(3.0) / 2.0;
    const float g30 = kG * 0.5f;
    const float g60 = kG * static_cast<float>(root3Over2);
    const struct {
        const char* what;
        std::array<float, 3> sdl; // m/s²
        Acceleration expected;    // g
    } cases[] = {
        {"flat on a table, face up", {0.0f, kG, 0.0f}, {0.0, 0.0, -1.0}},
        {"face down", {0.0f, -kG, 0.0f}, {0.0, 0.0, 1.0}},
        {"stood on its grips, shoulder buttons up", {0.0f, 0.0f, -kG}, {0.0, -1.0, 0.0}},
        {"on its left side, right side up", {kG, 0.0f, 0.0f}, {-1.0, 0.0, 0.0}},
        {"top edge raised 30 degrees", {0.0f, g60, -g30}, {0.0, -0.5, -root3Over2}},
        {"right side raised 30 degrees", {g30, g60, 0.0f}, {-0.5, 0.0, -root3Over2}},
        {"flat, jolted 2 g leftward", {-2.0f * kG, kG, 0.0f}, {2.0, 0.0, -1.0}},
    };
    for (const auto& c : cases) {
        const Acceleration actual = accelerationFromController(c.sdl);
        EXPECT_NEAR(actual.x, c.expected.x, kTolerance) << c.what << ": x";
        EXPECT_NEAR(actual.y, c.expected.y, kTolerance) << c.what << ": y";
        EXPECT_NEAR(actual.z, c.expected.z, kTolerance) << c.what << ": z";
    }
    // Computed in double from SDL's own g, so flat is exactly one g and not one float step off.
    EXPECT_EQ(accelerationFromController({0.0f, kG, 0.0f}).z, -1.0);
}

class ControllerSourceTickTest : public testing::Test {
protected:
    ControllerSourceTickTest() {
        world_.controllers = {kPadWithout, kPadWith};
        source_ = std::make_unique<ControllerSource>(std::make_unique<FakeDevices>(world_), std::nullopt);
    }
    /// The controller's newest reading: `yInMs2` on SDL's y axis (the sample's z is −yInMs2 / g).
    void report(std::uint64_t us, float yInMs2) {
        world_.reading = ControllerDevices::Reading{us, {0, yInMs2, 0}};
    }

    FakeWorld world_;
    std::unique_ptr<ControllerSource> source_;
};

TEST_F(ControllerSourceTickTest, EachTickGetsTheNewestReadingOrNothing) {
    const struct {
        const char* what;
        std::optional<ControllerDevices::Reading> latest; // what the controller holds at this tick
        std::optional<double> expectedZ;                  // none: nothing delivered
    } ticks[] = {
        {"no reading yet", std::nullopt, std::nullopt},
        {"first reading", ControllerDevices::Reading{1000, {0, kG, 0}}, -1.0},
        {"no new reading: not given twice", ControllerDevices::Reading{1000, {0, kG, 0}}, std::nullopt},
        {"several since: the newest", ControllerDevices::Reading{16000, {0, 2 * kG, 0}}, -2.0},
        {"a new reading of the same value", ControllerDevices::Reading{21000, {0, 2 * kG, 0}}, -2.0},
        {"unstamped: taken at every tick", ControllerDevices::Reading{0, {0, 3 * kG, 0}}, -3.0},
        {"unstamped again", ControllerDevices::Reading{0, {0, 3 * kG, 0}}, -3.0},
    };
    double now = 0.0;
    for (const auto& tick : ticks) {
        world_.reading = tick.latest;
        const std::optional<Acceleration> sample = source_->nextSample(now += 0.025);
        ASSERT_EQ(sample.has_value(), tick.expectedZ.has_value()) << tick.what;
        if (sample) {
            EXPECT_NEAR(sample->z, *tick.expectedZ, kTolerance) << tick.what;
        }
    }
}

TEST_F(ControllerSourceTickTest, PulledOutIsSaidOnceAndAControllerPluggedInIsPickedUpAtTheNextScan) {
    report(5000, kG);
    ASSERT_TRUE(source_->nextSample(1.0).has_value());

    world_.attached = false;
    world_.controllers = {kPadWithout};
    const int listsBefore = world_.listCalls;
    constexpr double kTick = 0.0625; // exact in binary, so the times below compare exactly
    testing::internal::CaptureStderr();
    for (int tick = 1; tick <= 17; ++tick) { // 1.0625 to 2.0625: scans at 1.5625 and 2.0625
        report(5000 + tick, kG);             // whatever it still held must not leak through
        EXPECT_FALSE(source_->nextSample(1.0 + tick * kTick).has_value()) << "tick " << tick;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "trembit: controller:1 (Motion Pad) was disconnected\n");
    EXPECT_EQ(world_.listCalls, listsBefore + 2);
    EXPECT_FALSE(source_->connected());
    EXPECT_FALSE(source_->isExhausted());

    // Plugged in: one that will not open, then one that does, whose clock gives the stamp last seen.
    world_.controllers = {kPadWithout, kPadWith, kOtherPadWith};
    world_.refusingToOpen = {1};
    world_.opened = -1;
    report(5000, 0.5f * kG);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(source_->nextSample(2.5).has_value()) << "scanned before it was due";
    const std::optional<Acceleration> first = source_->nextSample(2.5625);
    EXPECT_FALSE(source_->nextSample(2.625).has_value()) << "the first reading given twice";
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "trembit: controller:2 (Other Motion Pad) was connected, accelerometer at 200 samples per second\n");
    ASSERT_TRUE(first.has_value()) << "nothing from the new controller";
    EXPECT_NEAR(first->z, -0.5, kTolerance);
    EXPECT_EQ(source_->description(), "controller:2");

    world_.attached = false;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(source_->nextSample(2.6875).has_value());
    EXPECT_FALSE(source_->nextSample(2.75).has_value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "trembit: controller:2 (Other Motion Pad) was disconnected\n");
}

// ---- SDL itself, with no controller hardware ----

class SdlControllerDevicesTest : public testing::Test {
protected:
    void SetUp() override {
        try {
            devices_ = std::make_unique<SdlControllerDevices>();
        } catch (const std::runtime_error& error) {
            GTEST_SKIP() << "SDL's controller support cannot start here: " << error.what();
        }
    }

    std::unique_ptr<SdlControllerDevices> devices_;
};

TEST_F(SdlControllerDevicesTest, ListsNothingWhenNothingIsConnected) {
    const std::vector<ControllerInfo> controllers = devices_->list();
    if (SDL_NumJoysticks() > 0) {
        GTEST_SKIP() << "a joystick is connected to this machine";
    }
    EXPECT_TRUE(controllers.empty()) << controllers.size() << " controllers, first "
                                     << controllers.front().name;
    EXPECT_FALSE(devices_->open(0));
    EXPECT_FALSE(devices_->latestAccel().has_value());
    EXPECT_EQ(errorFrom(std::move(devices_), std::nullopt),
              "no game controller with an accelerometer is connected");
}

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

TEST_F(SdlControllerDevicesTest, ListsControllersWithoutAnAccelerometerAndNotesTheirGoing) {
    if (!devices_->list().empty() || SDL_NumJoysticks() > 0) {
        GTEST_SKIP() << "a joystick is connected to this machine";
    }
    const SDL_JoystickID stick =
        plugVirtual("Test Stick", SDL_JOYSTICK_TYPE_FLIGHT_STICK); // not a controller
    const SDL_JoystickID pad = plugVirtual("Test Pad", SDL_JOYSTICK_TYPE_GAMECONTROLLER);
    ASSERT_TRUE(stick >= 0 && pad >= 0) << SDL_GetError();

    const std::vector<ControllerInfo> controllers = devices_->list();
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].index, 0) << "numbered among the game controllers only";
    EXPECT_EQ(controllers[0].name, "Test Pad");
    EXPECT_FALSE(controllers[0].hasAccelerometer);
    EXPECT_FALSE(devices_->list().at(0).hasAccelerometer) << "the remembered answer differs";
    EXPECT_FALSE(devices_->open(0)) << "opened a controller with no accelerometer";
    EXPECT_EQ(errorFrom(std::make_unique<SdlControllerDevices>(), 0), "controller 0 has no accelerometer");

    unplugVirtual(pad);
    EXPECT_TRUE(devices_->list().empty()) << "still listed after it was pulled out";
    const SDL_JoystickID again = plugVirtual("Test Pad", SDL_JOYSTICK_TYPE_GAMECONTROLLER);
    EXPECT_EQ(devices_->list().size(), 1u) << "not listed when plugged back in";
    unplugVirtual(again);
    unplugVirtual(stick);
}

} // namespace
} // namespace platform
