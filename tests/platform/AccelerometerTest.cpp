#include "platform/services/Accelerometer.h"

#include "platform/services/Clock.h"
#include "platform/services/FileSource.h"
#include "platform/services/SimulatedSource.h"
#include "tests/support/Files.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

using platform::Acceleration;
using platform::Accelerometer;
using platform::FileSource;
using platform::SimulatedSource;
namespace fs = std::filesystem;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Without a script, answers poll n (0-based) with (n, 0, -1) for ever; with one, plays it and is then
// exhausted.
struct ScriptedSource final : platform::SampleSource {
    explicit ScriptedSource(std::vector<Acceleration> s) : script(std::move(s)) {}
    std::optional<Acceleration> nextSample(double now) override {
        times.push_back(now);
        const std::size_t n = times.size() - 1;
        return n < script.size() ? script[n] : Acceleration{static_cast<double>(n), 0.0, -1.0};
    }
    bool isExhausted() const override { return !script.empty() && times.size() >= script.size(); }
    bool awaitsInput() const override { return awaiting; }
    int readyFd() const override { return 7; }
    std::string description() const override { return "scripted"; }

    std::vector<Acceleration> script;
    std::vector<double> times;
    bool awaiting = false;
};

// An accelerometer wired to a scripted source, with the test as its delegate and as a listener that
// keeps the tick times, driven by a virtual clock. The delegate records a sample's x as its deflection
// when x is positive and lets the others pass.
class AccelerometerTest : public testing::Test,
                          public platform::AccelerometerDelegate,
                          public platform::SampleListener {
protected:
    ~AccelerometerTest() override { accelerometer.removeListener(*this); }
    void accelerometerDidAccelerate(Accelerometer& a, const Acceleration& acceleration) override {
        samples.push_back(acceleration);
        if (acceleration.x > 0.0) {
            a.sampleRecorded(static_cast<float>(acceleration.x));
        }
    }
    void sampleDelivered(const platform::DeliveredSample& delivered) override {
        observed.push_back(delivered.time);
        deflections.push_back(delivered.deflection);
    }
    ScriptedSource& useSource(std::vector<Acceleration> script = {}) {
        auto source = std::make_unique<ScriptedSource>(std::move(script));
        ScriptedSource& raw = *source;
        accelerometer.setSource(std::move(source));
        accelerometer.setDelegate(this);
        accelerometer.addListener(*this);
        return raw;
    }
    void runTo(double time) {
        clock.advanceTo(time);
        accelerometer.deliverDueSamples(clock.now());
    }

    platform::VirtualClock clock;
    Accelerometer accelerometer;
    std::vector<Acceleration> samples;
    std::vector<double> observed;
    std::vector<std::optional<float>> deflections;
};

TEST_F(AccelerometerTest, LateFramesStillDeliverEveryTickOnTheExactGrid) {
    constexpr double kInterval = 1.0 / 200.0;
    ScriptedSource& source = useSource();
    accelerometer.setUpdateInterval(kInterval);
    clock.advanceTo(1.25);
    const double origin = clock.now();
    accelerometer.start(origin);
    const double end = origin + 2000.0 * kInterval;
    for (int frame = 1; clock.now() < end; ++frame) {
        runTo(std::min(end, clock.now() + (frame % 40 == 0 ? 0.3 : 0.0167)));
    }
    ASSERT_EQ(samples.size(), 2000u);
    ASSERT_EQ(observed.size(), 2000u);
    for (std::size_t i = 0; i < observed.size(); ++i) {
        ASSERT_EQ(observed[i], origin + static_cast<double>(i + 1) * kInterval) << "tick " << i + 1;
        ASSERT_EQ(source.times[i], observed[i]) << "tick " << i + 1;
        ASSERT_EQ(samples[i].x, static_cast<double>(i)) << "delivered out of order";
    }
    EXPECT_EQ(accelerometer.missedTicks(), 0u);
    EXPECT_EQ(accelerometer.nextTickTime(), origin + 2001.0 * kInterval);
}

TEST_F(AccelerometerTest, CatchUpAfterASuspendIsCappedAndCountedAsMissed) {
    ScriptedSource& source = useSource();
    accelerometer.setUpdateInterval(0.005);
    accelerometer.start(0.0);
    runTo(60.0);
    EXPECT_EQ(accelerometer.deliveredCount(), 2000u);
    EXPECT_EQ(accelerometer.missedTicks(), 10000u);
    EXPECT_EQ(accelerometer.nextTickTime(), 12001.0 * 0.005);
    runTo(12001.0 * 0.005);
    EXPECT_EQ(accelerometer.deliveredCount(), 2001u);
    EXPECT_EQ(source.times.size(), 2001u) << "skipped ticks must not poll the source";
}

TEST_F(AccelerometerTest, NothingIsPolledOrDeliveredWithoutAStartedDelegateAndSource) {
    ScriptedSource& source = useSource();
    runTo(1.0); // not started
    EXPECT_EQ(accelerometer.nextTickTime(), std::nullopt);
    accelerometer.start(clock.now());
    accelerometer.setDelegate(nullptr);
    EXPECT_EQ(accelerometer.nextTickTime(), std::nullopt);
    runTo(2.0);
    EXPECT_TRUE(source.times.empty());
    EXPECT_EQ(accelerometer.missedTicks(), 0u);

    // The ticks that passed unheard are not owed to a new delegate.
    accelerometer.setDelegate(this);
    EXPECT_EQ(accelerometer.nextTickTime(), 1.0 + 41.0 * accelerometer.updateInterval());
    accelerometer.setSource(nullptr);
    EXPECT_EQ(accelerometer.nextTickTime(), std::nullopt);
    runTo(3.0);
    EXPECT_TRUE(samples.empty());
}

// Beyond half the largest float a sample-to-sample difference could overflow single precision and
// leave the high-pass memory infinite for the rest of the run.
TEST_F(AccelerometerTest, SamplesNoSignalPathCanTakeAreRefusedCountedAndSaid) {
    const double half = static_cast<double>(std::numeric_limits<float>::max()) / 2.0;
    useSource({{-half, half, 0.5},
               {0.0, 0.0, 1e39},
               {kNaN, 0.0, 0.0},
               {0.0, -kInf, 0.0},
               {0.0, -std::nextafter(half, kInf), 0.0},
               {0.5, 0.5, 0.5}});
    accelerometer.start(0.0);
    runTo(10.0);
    EXPECT_EQ(samples.size(), 2u);
    EXPECT_EQ(deflections, (std::vector<std::optional<float>>{std::nullopt, 0.5f}))
        << "listeners hear what the delegate saw, with what it recorded or nothing";
    EXPECT_EQ(accelerometer.refusalMessage(),
              "trembit: 4 samples refused (the first: z = 1e+39 is beyond any acceleration)");
}

TEST_F(AccelerometerTest, ASourceAwaitingInputHoldsItsTickBack) {
    ScriptedSource& source = useSource();
    source.awaiting = true;
    accelerometer.start(0.0);
    EXPECT_EQ(accelerometer.awaitedFd(0.01), -1) << "nothing is due yet";
    runTo(0.1);
    EXPECT_TRUE(samples.empty());
    EXPECT_EQ(accelerometer.awaitedFd(0.1), 7);
    EXPECT_EQ(accelerometer.nextTickTime(), Accelerometer::kDefaultUpdateInterval) << "the tick is kept";
    source.awaiting = false;
    runTo(0.1);
    EXPECT_EQ(samples.size(), 4u) << "every held tick comes, in order";
    EXPECT_EQ(accelerometer.awaitedFd(0.1), -1);
}

// Two minutes at 200 per second: the same seed gives the same run whatever order the times are asked
// in, and the run rests at one g down with a little noise and a few taps and bursts.
TEST(SimulatedSourceTest, SameSeedSameRunRestingAtOneGDownWithOccasionalShakes) {
    SimulatedSource first(42), backwards(42), other(43);
    constexpr int kTicks = 200 * 120;
    std::vector<Acceleration> reversed(kTicks);
    for (int k = kTicks; k-- > 0;) {
        reversed[static_cast<std::size_t>(k)] = *backwards.nextSample(k / 200.0);
    }
    double sumZ = 0.0, restSquares = 0.0;
    int same = 0, atRest = 0, shaken = 0;
    for (int k = 0; k < kTicks; ++k) {
        const Acceleration a = *first.nextSample(k / 200.0);
        ASSERT_EQ(std::memcmp(&a, &reversed[static_cast<std::size_t>(k)], sizeof a), 0) << "tick " << k;
        const Acceleration b = *other.nextSample(k / 200.0);
        same += std::memcmp(&a, &b, sizeof a) == 0;
        const double deviation = std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z + 1.0)});
        sumZ += a.z;
        shaken += deviation > 0.03;
        // The noise stays within 2 * sqrt(3) deviations (a sum of four uniforms): nearer is at rest.
        restSquares += deviation < 0.014 ? a.x * a.x : 0.0;
        atRest += deviation < 0.014;
    }
    EXPECT_EQ(same, 0) << "another seed should give another run";
    EXPECT_EQ(first.nextSample(kNaN), std::nullopt);
    EXPECT_NEAR(sumZ / kTicks, -1.0, 0.002);
    EXPECT_NEAR(std::sqrt(restSquares / atRest), SimulatedSource::kNoiseDeviation, 0.0005);
    EXPECT_TRUE(shaken > kTicks / 20 && shaken < kTicks / 2) << shaken;
}

TEST(FileSourceTest, GoodLinesArriveInOrderAndMalformedOnesAreReportedOnce) {
    const testing_support::TempDir dir;
    const struct {
        std::string bytes;
        std::vector<double> xs;
        std::string report; // what is said after "trembit: file:NAME: "
        platform::SampleUnits units = platform::SampleUnits::G;
        int firstTick = 0; // the tick that brings the first sample
    } cases[] = {
        {"\xEF\xBB\xBF# on the bench\r\n\r\n   \n1, 0, -1\r\n2,0,-1", {1, 2}, ""},
        {"9.80665,0,0\n-19.6133,0,0", {1, -2}, "", platform::SampleUnits::MetresPerSecondSquared},
        {"1,2\n1,0,-1\nx,y,z\n2,0,-1\nnan,0,0\n3,0,-1",
         {1, 2, 3},
         "skipped 3 malformed lines (first at line 1)"},
        // A recording: x, y and z of each row, in g whatever the units; its last row cut short.
        {"t,x,y,z,deflection\n0.025,1,0,-1,0.5\n0.05,2,0,-1,\n0.075,3,0",
         {1, 2},
         "skipped 1 malformed line (first at line 4)",
         platform::SampleUnits::MetresPerSecondSquared},
        // A line far longer than a tick may read is skipped a budget at a time.
        {std::string(3 * FileSource::kReadBudgetPerTick + 17, 'a') + "\r\n1,2,3\n",
         {1},
         "skipped 1 malformed line (first at line 1)",
         platform::SampleUnits::G,
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 60));
        const fs::path file = testing_support::writeFile(dir / "run.csv", c.bytes);
        FileSource source(file, c.units);
        std::vector<double> xs;
        for (int tick = 0; tick < 20 && !source.isExhausted(); ++tick) {
            if (const std::optional<Acceleration> sample = source.nextSample(tick)) {
                EXPECT_TRUE(!xs.empty() || tick == c.firstTick) << "the first sample came at tick " << tick;
                xs.push_back(sample->x);
            }
        }
        EXPECT_TRUE(source.isExhausted());
        EXPECT_EQ(xs, c.xs);
        EXPECT_EQ(testing_support::stderrOf([&] {
                      source.finish();
                      source.finish();
                  }),
                  c.report.empty() ? "" : "trembit: file:" + file.string() + ": " + c.report + "\n");
    }
}

} // namespace
