#include "platform/services/Accelerometer.h"

#include "platform/app/Clock.h"
#include "platform/services/FileSource.h"
#include "platform/services/SimulatedSource.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using platform::Acceleration;
using platform::Accelerometer;
using platform::FileSource;
using platform::SimulatedSource;
namespace fs = std::filesystem;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Answers poll n (0-based) with (n, 0, -1) unless a script says otherwise; exhausted after `limit`.
class ScriptedSource final : public platform::SampleSource {
public:
    explicit ScriptedSource(std::vector<Acceleration> script = {}, std::size_t limit = SIZE_MAX)
        : script_(std::move(script)), limit_(limit) {}
    std::optional<Acceleration> nextSample(double now) override {
        times.push_back(now);
        const std::size_t n = times.size() - 1;
        return n < script_.size() ? script_[n] : Acceleration{static_cast<double>(n), 0.0, -1.0};
    }
    bool isExhausted() const override { return times.size() >= limit_; }
    std::string description() const override { return "scripted"; }

    std::vector<double> times;

private:
    std::vector<Acceleration> script_;
    std::size_t limit_;
};

struct RecordingDelegate final : platform::AccelerometerDelegate {
    void accelerometerDidAccelerate(Accelerometer&, const Acceleration& acceleration) override {
        samples.push_back(acceleration);
        if (onSample) {
            onSample();
        }
    }
    std::vector<Acceleration> samples;
    std::function<void()> onSample;
};

// An accelerometer wired to a scripted source, a recording delegate and an observer that keeps the
// tick times, driven by a virtual clock.
class AccelerometerTest : public testing::Test {
protected:
    ScriptedSource& useSource(std::vector<Acceleration> script = {}, std::size_t limit = SIZE_MAX) {
        auto source = std::make_unique<ScriptedSource>(std::move(script), limit);
        ScriptedSource& raw = *source;
        accelerometer.setSource(std::move(source));
        return raw;
    }
    void SetUp() override {
        accelerometer.setDelegate(&delegate);
        accelerometer.setDeliveryObserver(
            [this](double time, const Acceleration&) { observed.push_back(time); });
    }
    void runTo(double time) {
        clock.advanceTo(time);
        accelerometer.deliverDueSamples(clock.now());
    }

    platform::VirtualClock clock;
    Accelerometer accelerometer;
    RecordingDelegate delegate;
    std::vector<double> observed;
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
    ASSERT_EQ(delegate.samples.size(), 2000u);
    ASSERT_EQ(observed.size(), 2000u);
    for (std::size_t i = 0; i < observed.size(); ++i) {
        ASSERT_EQ(observed[i], origin + static_cast<double>(i + 1) * kInterval) << "tick " << i + 1;
        ASSERT_EQ(source.times[i], observed[i]) << "tick " << i + 1;
        ASSERT_EQ(delegate.samples[i].x, static_cast<double>(i)) << "delivered out of order";
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
    EXPECT_EQ(source.times.back(), 2000.0 * 0.005);
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
    accelerometer.setDelegate(&delegate);
    EXPECT_EQ(accelerometer.nextTickTime(), 1.0 + 41.0 * accelerometer.updateInterval());
    accelerometer.setSource(nullptr);
    EXPECT_EQ(accelerometer.nextTickTime(), std::nullopt);
    runTo(3.0);
    EXPECT_TRUE(delegate.samples.empty());
    EXPECT_TRUE(observed.empty());
}

TEST_F(AccelerometerTest, NonFiniteSamplesNeverReachTheDelegate) {
    std::vector<Acceleration> script;
    for (const double bad : {kNaN, kInf, -kInf}) {
        script.push_back({bad, 0.0, -1.0});
        script.push_back({0.0, bad, -1.0});
        script.push_back({0.0, 0.0, bad});
        script.push_back({0.5, 0.5, 0.5});
    }
    useSource(script, script.size());
    accelerometer.start(0.0);
    runTo(10.0);
    EXPECT_EQ(accelerometer.refusedCount(), 9u);
    EXPECT_EQ(accelerometer.deliveredCount(), 3u);
    ASSERT_EQ(delegate.samples.size(), 3u);
    for (const Acceleration& sample : delegate.samples) {
        EXPECT_EQ(sample.x, 0.5);
    }
    EXPECT_EQ(observed.size(), 3u) << "the observer must see only what the delegate saw";
    EXPECT_EQ(accelerometer.nextTickTime(), std::nullopt) << "exhausted source";
}

TEST_F(AccelerometerTest, ObserverFollowsTheDelegateWhichMayStopDeliveries) {
    useSource();
    std::vector<std::string> log;
    delegate.onSample = [&] {
        log.push_back("delegate");
        if (delegate.samples.size() == 2) {
            accelerometer.setDelegate(nullptr);
        }
    };
    accelerometer.setDeliveryObserver([&](double, const Acceleration&) { log.push_back("observer"); });
    accelerometer.start(0.0);
    runTo(1.0);
    EXPECT_EQ(log, (std::vector<std::string>{"delegate", "observer", "delegate", "observer"}));
}

TEST_F(AccelerometerTest, IntervalChangesRestartTheGridAtTheLastTick) {
    EXPECT_EQ(accelerometer.updateInterval(), Accelerometer::kDefaultUpdateInterval);
    for (const double ignored : {0.0, -0.1, kNaN, kInf}) {
        accelerometer.setUpdateInterval(ignored);
        EXPECT_EQ(accelerometer.updateInterval(), Accelerometer::kDefaultUpdateInterval) << ignored;
    }
    accelerometer.setUpdateInterval(1e-9);
    EXPECT_EQ(accelerometer.updateInterval(), Accelerometer::kMinimumUpdateInterval);

    useSource();
    accelerometer.setUpdateInterval(0.1);
    accelerometer.start(0.0);
    accelerometer.setUpdateInterval(0.2); // before any tick: the grid still starts at the start
    EXPECT_EQ(accelerometer.nextTickTime(), 0.2);
    accelerometer.setUpdateInterval(0.1);
    runTo(0.25);
    accelerometer.setUpdateInterval(0.05);
    EXPECT_EQ(accelerometer.nextTickTime(), 0.2 + 0.05);
    runTo(0.31);
    EXPECT_EQ(observed, (std::vector<double>{0.1, 0.2, 0.2 + 0.05, 0.2 + 2.0 * 0.05}));
}

TEST(SimulatedSourceTest, SameSeedSameSamplesAtWhateverTimesAsked) {
    SimulatedSource first(42);
    SimulatedSource again(42);
    SimulatedSource backwards(42);
    SimulatedSource other(43);
    constexpr int kTicks = 40 * 30;
    std::vector<Acceleration> reversed(kTicks);
    for (int k = kTicks; k-- > 0;) {
        reversed[static_cast<std::size_t>(k)] = *backwards.nextSample(k / 40.0);
    }
    int differences = 0;
    for (int k = 0; k < kTicks; ++k) {
        const Acceleration a = *first.nextSample(k / 40.0);
        const Acceleration b = *again.nextSample(k / 40.0);
        const Acceleration& c = reversed[static_cast<std::size_t>(k)];
        ASSERT_TRUE(a.x == b.x && a.y == b.y && a.z == b.z) << "tick " << k;
        ASSERT_TRUE(a.x == c.x && a.y == c.y && a.z == c.z) << "tick " << k << " depends on earlier asks";
        const Acceleration d = *other.nextSample(k / 40.0);
        differences += (a.x != d.x || a.y != d.y || a.z != d.z) ? 1 : 0;
    }
    EXPECT_EQ(differences, kTicks) << "another seed should give another run";
    EXPECT_EQ(first.nextSample(kNaN), std::nullopt);
}

TEST(SimulatedSourceTest, RestsAtOneGDownWithNoiseAndOccasionalShakes) {
    for (const std::uint64_t seed : {1u, 2u, 1234567u}) {
        SimulatedSource source(seed);
        constexpr int kTicks = 200 * 120;
        // The noise stays within 2 * sqrt(3) standard deviations (a sum of four uniforms), so a sample
        // closer to rest than that is undisturbed by any tap or burst.
        constexpr double kNoiseBound = 0.014;
        double sum[3] = {};
        double largest = 0.0;
        double restSquares = 0.0;
        int atRest = 0;
        int shaken = 0;
        for (int k = 0; k < kTicks; ++k) {
            const Acceleration a = *source.nextSample(k / 200.0);
            sum[0] += a.x;
            sum[1] += a.y;
            sum[2] += a.z;
            const double deviation = std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z + 1.0)});
            largest = std::max(largest, deviation);
            shaken += deviation > 0.03 ? 1 : 0;
            if (deviation < kNoiseBound) {
                restSquares += a.x * a.x;
                ++atRest;
            }
        }
        EXPECT_NEAR(sum[0] / kTicks, 0.0, 0.002) << "seed " << seed;
        EXPECT_NEAR(sum[1] / kTicks, 0.0, 0.002) << "seed " << seed;
        EXPECT_NEAR(sum[2] / kTicks, -1.0, 0.002) << "seed " << seed;
        EXPECT_GT(atRest, kTicks * 6 / 10) << "seed " << seed << ": mostly at rest";
        EXPECT_NEAR(std::sqrt(restSquares / atRest), SimulatedSource::kNoiseDeviation, 0.0005)
            << "seed " << seed;
        // Some taps and bursts in two minutes, none beyond a tap's strength.
        EXPECT_GT(largest, 0.25) << "seed " << seed;
        EXPECT_LT(largest, 1.3) << "seed " << seed;
        EXPECT_GT(shaken, kTicks / 20) << "seed " << seed;
        EXPECT_LT(shaken, kTicks / 2) << "seed " << seed;
    }
}

// Each test gets its own folder for sample files.
class FileSourceTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trembit-samples-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_ / "locked.csv", fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
    }
    fs::path write(const std::string& name, const std::string& bytes) {
        const fs::path file = dir_ / name;
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

    fs::path dir_;
};

TEST_F(FileSourceTest, GoodLinesArriveInOrderAndMalformedOnesAreReported) {
    const std::string badLines[] = {
        "1,2", "1,2,3,4", "1;2;3", "x,y,z", "nan,0,0", "inf,0,0", "1e400,0,0", std::string(10000, '7'),
    };
    std::string text = "# recorded on the bench\r\n\r\n   \n";
    int good = 0;
    for (const std::string& bad : badLines) {
        text += bad + "\n" + std::to_string(++good) + ", 0, -1\r\n";
    }
    text += "# the last line has no line break\n" + std::to_string(++good) + ",0,-1";
    const fs::path file = write("run.csv", text);

    Accelerometer accelerometer;
    RecordingDelegate delegate;
    accelerometer.setDelegate(&delegate);
    accelerometer.setSource(std::make_unique<FileSource>(file));
    platform::VirtualClock clock;
    accelerometer.start(clock.now());
    while (const std::optional<double> due = accelerometer.nextTickTime()) {
        clock.advanceTo(*due + 0.001);
        accelerometer.deliverDueSamples(clock.now());
    }
    ASSERT_EQ(delegate.samples.size(), static_cast<std::size_t>(good));
    for (int i = 0; i < good; ++i) {
        EXPECT_EQ(delegate.samples[static_cast<std::size_t>(i)].x, i + 1);
    }
    EXPECT_EQ(accelerometer.source()->description(), "file:" + file.string());

    testing::internal::CaptureStderr();
    accelerometer.source()->finish();
    accelerometer.source()->finish();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "trembit: file:" + file.string() + ": skipped 8 malformed lines (first at line 4)\n");
}

TEST_F(FileSourceTest, CleanOrEmptyFilesSayNothing) {
    const struct {
        std::string bytes;
        std::size_t samples;
    } cases[] = {{"", 0},
                 {"\n\n# nothing yet\n", 0},
                 {"\xEF\xBB\xBF"
                  "1,2,3\n",
                  1},
                 {"1,2,3\n4,5,6\n", 2}};
    for (const auto& c : cases) {
        FileSource source(write("clean.csv", c.bytes));
        std::size_t samples = 0;
        for (int tick = 0; tick < 10 && !source.isExhausted(); ++tick) {
            samples += source.nextSample(tick).has_value() ? 1 : 0;
        }
        EXPECT_TRUE(source.isExhausted()) << c.bytes;
        EXPECT_EQ(samples, c.samples) << c.bytes;
        testing::internal::CaptureStderr();
        source.finish();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.bytes;
    }
}

TEST_F(FileSourceTest, UnopenableFilesAreNamedWithTheReason) {
    const fs::path locked = write("locked.csv", "1,2,3\n");
    fs::permissions(locked, fs::perms::none);
    const struct {
        fs::path file;
        std::string reason;
    } cases[] = {
        {dir_ / "missing.csv", "No such file or directory"},
        {dir_, "Is a directory"},
        {locked, "Permission denied"},
    };
    for (const auto& c : cases) {
        if (c.file == locked && geteuid() == 0) {
            continue; // root reads anything
        }
        try {
            FileSource source(c.file);
            ADD_FAILURE() << "opened " << c.file;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "cannot open " + c.file.string() + ": " + c.reason);
        }
    }
}

TEST_F(FileSourceTest, HugeLineIsSkippedAFewTicksAtATime) {
    const std::size_t junk = 3 * FileSource::kReadBudgetPerTick + 17;
    FileSource source(write("junk.csv", std::string(junk, 'a') + "\r\n1,2,3\n"));
    int ticks = 1;
    std::optional<Acceleration> sample;
    for (; ticks < 10 && !(sample = source.nextSample(ticks)); ++ticks) {
        EXPECT_FALSE(source.isExhausted()) << "tick " << ticks;
    }
    ASSERT_TRUE(sample.has_value());
    EXPECT_EQ(sample->z, 3.0);
    EXPECT_EQ(ticks, 4) << "each tick should read only its budget";
    EXPECT_EQ(source.malformedLines(), 1u);
    EXPECT_EQ(source.firstMalformedLine(), 1u);
}

} // namespace
