#include "platform/services/IioSource.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using platform::Acceleration;
using platform::IioSource;
namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

// Sums of a few products of decimal fractions are exact to well under this, relative to the value.
constexpr double kTolerance = 1e-12;
// 0.01 g per count, in m/s².
constexpr const char* kCentiG = "0.0980665";

// Each test builds its own sysfs tree: <root>/bus/iio/devices/<device>/<attribute files>. A file whose
// contents are kFolder is made a folder instead, which no one (root included) can read or write as a
// file: it stands for an attribute the device refuses.
class IioSourceTest : public testing::Test {
protected:
    static constexpr const char* kFolder = "<folder>";

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trembit-sysfs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // An accelerometer lying flat: raw z of 100 counts at 0.01 g, plus `files` (which replace these).
    fs::path device(const std::string& folder, Files files) {
        Files all = {{"name", "accel_3d\n"},
                     {"in_accel_x_raw", "0\n"},
                     {"in_accel_y_raw", "0\n"},
                     {"in_accel_z_raw", "100\n"},
                     {"in_accel_scale", kCentiG}};
        for (auto& [file, text] : files) {
            all[file] = text;
        }
        return bareDevice(folder, all);
    }
    // Just `files`, nothing more; an empty text removes the file.
    fs::path bareDevice(const std::string& folder, const Files& files) {
        const fs::path path = root_ / "bus" / "iio" / "devices" / folder;
        fs::create_directories(path);
        for (const auto& [file, text] : files) {
            write(path / file, text);
        }
        return path;
    }
    static void write(const fs::path& file, const std::string& text) {
        std::error_code ignored;
        fs::remove_all(file, ignored);
        if (text == kFolder) {
            fs::create_directory(file);
        } else if (!text.empty()) {
            std::ofstream(file, std::ios::binary) << text;
        }
    }
    static std::string read(const fs::path& file) {
        std::ostringstream text;
        text << std::ifstream(file, std::ios::binary).rdbuf();
        return text.str();
    }
    std::string errorFrom(const std::optional<std::string>& name = std::nullopt) {
        try {
            IioSource source(root_, name, 40.0);
            return "no error";
        } catch (const std::runtime_error& error) {
            return error.what();
        }
    }

    fs::path root_;
};

void expectSample(const std::optional<Acceleration>& actual, const Acceleration& expected,
                  const std::string& what) {
    ASSERT_TRUE(actual.has_value()) << what;
    const auto near = [](double value) { return kTolerance * std::max(1.0, std::fabs(value)); };
    EXPECT_NEAR(actual->x, expected.x, near(expected.x)) << what << ": x";
    EXPECT_NEAR(actual->y, expected.y, near(expected.y)) << what << ": y";
    EXPECT_NEAR(actual->z, expected.z, near(expected.z)) << what << ": z";
}

TEST_F(IioSourceTest, ReadingsAreScaledOffsetTurnedAndNegatedIntoG) {
    const struct {
        const char* what;
        Files files;
        Acceleration expected;
    } cases[] = {
        {"lying flat reads one g down", {}, {0.0, 0.0, -1.0}},
        {"shared scale on every axis",
         {{"in_accel_x_raw", "-50"}, {"in_accel_y_raw", "25\n"}, {"in_accel_z_raw", "0"}},
         {0.5, -0.25, 0.0}},
        {"a channel's own scale wins over the shared one",
         {{"in_accel_x_raw", "100"}, {"in_accel_x_scale", "0.196133\n"}},
         {-2.0, 0.0, -1.0}},
        {"shared and per-channel offsets, in counts before scaling",
         {{"in_accel_offset", "-10"}, {"in_accel_z_offset", "5"}, {"in_accel_x_raw", "10"}},
         {0.0, 0.1, -1.05}},
        {"no scale at all: counts taken as m/s²",
         {{"in_accel_scale", ""}, {"in_accel_z_raw", "19613300"}},
         {0.0, 0.0, -2000000.0}},
        {"a 90 degree turn about z moves x onto y",
         {{"in_accel_x_raw", "100"},
          {"in_accel_z_raw", "0"},
          {"mount_matrix", "0, -1, 0; 1, 0, 0; 0, 0, 1\n"}},
         {0.0, -1.0, 0.0}},
        {"the channel matrix name, turning upside down",
         {{"in_accel_mount_matrix", "1, 0, 0; 0, -1, 0; 0, 0, -1"}},
         {0.0, 0.0, 1.0}},
        {"rows are applied to the column of readings",
         {{"in_accel_x_raw", "100"},
          {"in_accel_y_raw", "200"},
          {"in_accel_z_raw", "300"},
          {"mount_matrix", "1, 2, 3; 0, 0, 0; 0.5, 0, 0"}},
         {-14.0, 0.0, -0.5}},
    };
    for (const auto& c : cases) {
        fs::remove_all(root_ / "bus");
        device("iio:device0", c.files);
        IioSource source(root_, std::nullopt, 40.0);
        expectSample(source.nextSample(0.0), c.expected, c.what);
        const bool warned = source.startMessage().find("no scale") != std::string::npos;
        EXPECT_EQ(warned, c.files.contains("in_accel_scale")) << c.what << ": " << source.startMessage();
    }
}

TEST_F(IioSourceTest, AccelerometersAreFoundInNaturalOrderAndChosenByName) {
    EXPECT_EQ(errorFrom(), "no IIO accelerometer under " + (root_ / "bus/iio/devices").string());

    device("iio:device10", {{"name", "lid\n"}});
    device("iio:device2", {{"name", "base"}});
    device("iio:device9", {{"name", ""}});
    bareDevice("iio:device1", {{"name", "als"}, {"in_illuminance_raw", "5"}});
    bareDevice("iio:device3", {{"name", "half"}, {"in_accel_x_raw", "5"}, {"in_accel_y_raw", "5"}});

    std::vector<std::string> found;
    for (const platform::IioDevice& d : IioSource::findAccelerometers(root_)) {
        found.push_back(d.path.filename().string() + "=" + d.name);
    }
    EXPECT_EQ(found, (std::vector<std::string>{"iio:device2=base", "iio:device9=", "iio:device10=lid"}));

    const struct {
        std::optional<std::string> name;
        const char* folder;
        const char* description;
    } choices[] = {{std::nullopt, "iio:device2", "iio:base"}, {"lid", "iio:device10", "iio:lid"}};
    for (const auto& c : choices) {
        IioSource source(root_, c.name, 40.0);
        EXPECT_EQ(source.devicePath().filename(), c.folder) << c.name.value_or("(first)");
        EXPECT_EQ(source.description(), c.description);
    }
    EXPECT_EQ(IioSource(root_, "", 40.0).description(), "iio:iio:device9") << "a device without a name";
    EXPECT_EQ(errorFrom("foo"), "no IIO accelerometer named 'foo' under " +
                                    (root_ / "bus/iio/devices").string() +
                                    " (found 'base', 'iio:device9', 'lid')");
    EXPECT_TRUE(IioSource::findAccelerometers(root_ / "missing").empty());
}

TEST_F(IioSourceTest, RateIsTheSlowestOfferedThatIsFastEnough) {
    const struct {
        Files files;
        double wanted;
        const char* written; // into the frequency file named first in `files`; untouched when already set
        const char* rateText;
    } cases[] = {
        {{{"sampling_frequency", "10\n"}, {"sampling_frequency_available", "10 12.5 25 50 100\n"}},
         40.0,
         "50",
         "50 samples per second (asked for 40)"},
        {{{"sampling_frequency", "10"}, {"sampling_frequency_available", "10 12.5 25 50 100"}},
         200.0,
         "100",
         "100 samples per second (asked for 200)"},
        {{{"in_accel_sampling_frequency", "100"}, {"in_accel_sampling_frequency_available", "100 12.5 25"}},
         12.0,
         "12.5",
         "12.5 samples per second (asked for 12)"},
        {{{"sampling_frequency", "50\n"}, {"sampling_frequency_available", "25 50"}},
         50.0,
         "50\n",
         "50 samples per second"},
        {{{"in_accel_sampling_frequency", "0"}}, 40.0, "40", "40 samples per second"},
        {{{"sampling_frequency", "1"}, {"sampling_frequency_available", "[0.5 0.5 200]"}},
         40.0,
         "40",
         "40 samples per second"},
    };
    for (const auto& c : cases) {
        fs::remove_all(root_ / "bus");
        const fs::path path = device("iio:device0", c.files);
        IioSource source(root_, std::nullopt, c.wanted);
        const fs::path frequency = path / c.files.begin()->first;
        EXPECT_EQ(read(frequency), c.written) << frequency;
        EXPECT_EQ(source.deviceRate(), std::stod(c.written));
        EXPECT_EQ(source.startMessage(),
                  "trembit: source: iio:accel_3d (" + path.string() + "), " + c.rateText);
    }

    fs::remove_all(root_ / "bus");
    device("iio:device0", {});
    IioSource silent(root_, std::nullopt, 40.0);
    EXPECT_EQ(silent.deviceRate(), 0.0);
    EXPECT_NE(silent.startMessage().find("at a rate it does not say (asked for 40)"), std::string::npos)
        << silent.startMessage();
}

TEST_F(IioSourceTest, HysteresisIsTurnedOffAndRefusalsAreMentionedNotFatal) {
    const fs::path path =
        device("iio:device0", {{"in_accel_hysteresis", "0.05\n"}, {"in_accel_hysteresis_relative", "0\n"}});
    IioSource source(root_, std::nullopt, 40.0);
    EXPECT_EQ(read(path / "in_accel_hysteresis"), "0");
    EXPECT_EQ(read(path / "in_accel_hysteresis_relative"), "0\n") << "already off: left alone";
    EXPECT_EQ(source.startMessage().find('\n'), std::string::npos) << source.startMessage();

    fs::remove_all(root_ / "bus");
    const fs::path refusing = device("iio:device0", {{"sampling_frequency", kFolder},
                                                     {"sampling_frequency_available", "25 50"},
                                                     {"in_accel_hysteresis", kFolder}});
    IioSource stubborn(root_, std::nullopt, 40.0);
    EXPECT_EQ(
        stubborn.startMessage(),
        "trembit: source: iio:accel_3d (" + refusing.string() +
            "), at a rate it does not say (asked for 40)\n"
            "trembit: iio:accel_3d: could not set the rate to 50 samples per second (" +
            (refusing / "sampling_frequency").string() +
            ": Is a directory)\n"
            "trembit: iio:accel_3d: could not turn off the hysteresis, so small movements may not show (" +
            (refusing / "in_accel_hysteresis").string() + ": Is a directory)");
    expectSample(stubborn.nextSample(0.0), {0.0, 0.0, -1.0}, "samples still come");
}

TEST_F(IioSourceTest, UnusableCalibrationIsAStartErrorNamingTheFile) {
    const std::string tooLong(IioSource::kMaxAttributeBytes + 1, '1');
    const struct {
        Files files;
        const char* file;
        std::string problem;
    } cases[] = {
        {{{"in_accel_scale", "abc\n"}}, "in_accel_scale", "cannot use $: 'abc' is not a number"},
        {{{"in_accel_y_offset", "1.5.2"}}, "in_accel_y_offset", "cannot use $: '1.5.2' is not a number"},
        {{{"in_accel_z_scale", "nan"}}, "in_accel_z_scale", "cannot use $: 'nan' is not a number"},
        {{{"in_accel_scale", "\x01\xff"}}, "in_accel_scale", "cannot use $: '?\?' is not a number"},
        {{{"in_accel_scale", tooLong}}, "in_accel_scale", "cannot read $: longer than 4096 bytes"},
        {{{"in_accel_x_scale", kFolder}}, "in_accel_x_scale", "cannot read $: Is a directory"},
        {{{"in_accel_z_raw", kFolder}}, "in_accel_z_raw", "cannot read $: Is a directory"},
        {{{"mount_matrix", "1, 0, 0; 0, 1, 0"}},
         "mount_matrix",
         "cannot use $: '1, 0, 0; 0, 1, 0' is not three rows of three numbers"},
    };
    for (const auto& c : cases) {
        fs::remove_all(root_ / "bus");
        const fs::path path = device("iio:device0", c.files);
        std::string expected = c.problem;
        expected.replace(expected.find('$'), 1, (path / c.file).string());
        EXPECT_EQ(errorFrom(), expected);
    }
}

TEST_F(IioSourceTest, ADeviceThatGoesAwayIsReportedOnceAndDeliversNothingMore) {
    const fs::path path = device("iio:device0", {});
    IioSource source(root_, std::nullopt, 40.0);
    expectSample(source.nextSample(0.0), {0.0, 0.0, -1.0}, "before");
    fs::remove_all(path);

    testing::internal::CaptureStderr();
    EXPECT_EQ(source.nextSample(0.025), std::nullopt);
    EXPECT_TRUE(source.isGone());
    EXPECT_FALSE(source.isExhausted()) << "the run goes on, standing still";
    EXPECT_EQ(source.nextSample(0.05), std::nullopt);
    source.finish();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "trembit: iio:accel_3d: the device is gone (" +
                                                          (path / "in_accel_x_raw").string() +
                                                          ": No such file or directory); no new samples\n");
}

TEST_F(IioSourceTest, ReadingsThatAreNotWholeNumbersAreSkippedAndCounted) {
    const fs::path path = device("iio:device0", {});
    IioSource source(root_, std::nullopt, 40.0);
    const char* raws[] = {"12abc\n", "", "1.5", "99999999999999999999", "-100\n"};
    int samples = 0;
    for (const char* raw : raws) {
        write(path / "in_accel_y_raw", raw);
        if (std::string(raw).empty()) {
            std::ofstream(path / "in_accel_y_raw"); // there, but empty
        }
        if (const std::optional<Acceleration> sample = source.nextSample(0.0)) {
            ++samples;
            EXPECT_NEAR(sample->y, 1.0, kTolerance);
        }
    }
    EXPECT_EQ(samples, 1);
    EXPECT_EQ(source.skippedReadings(), 4u);
    EXPECT_FALSE(source.isExhausted());

    testing::internal::CaptureStderr();
    source.finish();
    source.finish();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "trembit: iio:accel_3d: skipped 4 readings (the first: " + (path / "in_accel_y_raw").string() +
                  " held '12abc', not a whole number)\n");
}

TEST(IioAttributeTest, MountMatricesAreExactlyThreeByThree) {
    const std::optional<std::array<double, 9>> turned =
        platform::parseMountMatrix("0, -1, 0; 1, 0, 0; 0, 0, 1\n");
    ASSERT_TRUE(turned.has_value());
    EXPECT_EQ(*turned, (std::array<double, 9>{0, -1, 0, 1, 0, 0, 0, 0, 1}));
    for (const char* bad : {"", "1, 0, 0; 0, 1, 0", "1, 0, 0; 0, 1, 0; 0, 0, 1;",
                            "1, 0, 0; 0, 1, 0; 0, 0, 1; 1, 1, 1", "1, 0; 0, 1, 0; 0, 0, 1, 0",
                            "1, 0, 0, 0; 1, 0; 0, 0, 1", "1, , 0; 0, 1, 0; 0, 0, 1", "1 0 0; 0 1 0; 0 0 1"}) {
        EXPECT_EQ(platform::parseMountMatrix(bad), std::nullopt) << '"' << bad << '"';
    }
}

TEST(IioAttributeTest, FrequencyListsAreNumbersOnly) {
    EXPECT_EQ(platform::parseFrequencyList("10 12.5\t25\n"), (std::vector<double>{10.0, 12.5, 25.0}));
    for (const char* bad : {"", "\n", "[0.5 0.5 100]", "10 abc", "0 10", "10 -5"}) {
        EXPECT_TRUE(platform::parseFrequencyList(bad).empty()) << '"' << bad << '"';
    }
}

} // namespace
