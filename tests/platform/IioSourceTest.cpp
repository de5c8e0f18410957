#include "platform/services/IioSource.h"

#include "tests/support/Files.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace {

using platform::Acceleration;
using platform::IioSource;
namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;
using namespace std::literals;

// Sums of a few products of decimal fractions are exact to well under this, relative to the value.
constexpr double kTolerance = 1e-12;

// Each test builds its own sysfs tree: <root>/bus/iio/devices/<device>/<attribute files>. A file whose
// contents are kFolder is made a folder instead, which no one (root included) can read or write as a
// file: it stands for an attribute the device refuses.
class IioSourceTest : public testing::Test {
protected:
    static constexpr const char* kFolder = "<folder>";

    // A fresh tree with one accelerometer lying flat: raw z of 100 counts at 0.01 g, plus `files` (which
    // replace these; an empty text removes the file).
    fs::path device(const Files& files) {
        fs::remove_all(root_ / "bus");
        return addDevice("iio:device0", files);
    }
    fs::path addDevice(const std::string& folder, const Files& files) {
        Files all = files;
        all.insert({{"name", "accel_3d\n"},
                    {"in_accel_x_raw", "0\n"},
                    {"in_accel_y_raw", "0\n"},
                    {"in_accel_z_raw", "100\n"},
                    {"in_accel_scale", "0.0980665"}});
        const fs::path path = root_ / "bus" / "iio" / "devices" / folder;
        for (const auto& [file, text] : all) {
            write(path / file, text);
        }
        return path;
    }
    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        fs::remove_all(file);
        if (text == kFolder) {
            fs::create_directory(file);
        } else if (!text.empty()) {
            testing_support::writeFile(file, text);
        }
    }
    std::string errorFrom(const std::optional<std::string>& name = std::nullopt) {
        return testing_support::errorOf([&] { IioSource(root_, name, 40.0); });
    }

    testing_support::TempDir root_;
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
        {"a channel's own scale wins over the shared one",
         {{"in_accel_x_raw", "100"}, {"in_accel_x_scale", "0.196133\n"}},
         {-2.0, 0.0, -1.0}},
        {"shared and per-channel offsets, in counts before scaling",
         {{"in_accel_offset", "-10"}, {"in_accel_z_offset", "5"}, {"in_accel_x_raw", "10"}},
         {0.0, 0.1, -1.05}},
        {"no scale at all: counts taken as m/s²",
         {{"in_accel_scale", ""}, {"in_accel_z_raw", "19613300"}},
         {0.0, 0.0, -2000000.0}},
        {"the channel matrix name, turning upside down",
         {{"in_accel_mount_matrix", "1, 0, 0; 0, -1, 0; 0, 0, -1"}},
         {0.0, 0.0, 1.0}},
        {"rows are applied to the column of readings",
         {{"in_accel_x_raw", "100"},
          {"in_accel_y_raw", "200"},
          {"in_accel_z_raw", "300"},
          {"mount_matrix", "1, 2, 3; 0, 0, 0; 0.5, 0, 0\n"}},
         {-14.0, 0.0, -0.5}},
    };
    for (const auto& c : cases) {
        device(c.files);
        IioSource source(root_, std::nullopt, 40.0);
        expectSample(source.nextSample(0.0), c.expected, c.what);
        const bool warned = source.startMessage().find("no scale") != std::string::npos;
        EXPECT_EQ(warned, c.files.contains("in_accel_scale")) << c.what << ": " << source.startMessage();
    }
}

TEST_F(IioSourceTest, AccelerometersAreFoundInNaturalOrderAndChosenByName) {
    EXPECT_EQ(errorFrom(), "no IIO accelerometer under " + (root_ / "bus/iio/devices").string());
    addDevice("iio:device10", {{"name", "lid\n"}});
    addDevice("iio:device2", {{"name", "base"}});
    addDevice("iio:device9", {{"name", ""}});
    addDevice("iio:device3", {{"in_accel_z_raw", ""}}); // not all three axes
    addDevice("iio:device11", {{"name", "\x1b]0;owned\x07\n"}});

    std::vector<std::string> found;
    for (const platform::IioDevice& d : IioSource::findAccelerometers(root_)) {
        found.push_back(d.path.filename().string() + "=" + d.name);
    }
    EXPECT_EQ(found, (std::vector<std::string>{"iio:device2=base", "iio:device9=", "iio:device10=lid",
                                               "iio:device11=\x1b]0;owned\x07"}));
    EXPECT_EQ(IioSource(root_, std::nullopt, 40.0).description(), "iio:base");
    EXPECT_EQ(IioSource(root_, "lid", 40.0).devicePath().filename(), "iio:device10");
    EXPECT_EQ(IioSource(root_, "", 40.0).description(), "iio:iio:device9") << "a device without a name";
    EXPECT_EQ(errorFrom("foo"), "no IIO accelerometer named 'foo' under " +
                                    (root_ / "bus/iio/devices").string() +
                                    " (found 'base', 'iio:device9', 'lid', '\\x1b]0;owned\\x07')");
}

TEST_F(IioSourceTest, RateIsTheSlowestOfferedThatIsFastEnough) {
    const struct {
        const char* file; // then <file>_available
        const char *was, *available;
        double wanted;
        const char *written, *rateText; // the file is left untouched when already right
    } cases[] = {
        {"sampling_frequency", "10\n", "10 12.5 25 50 100\n", 40, "50",
         "50 samples per second (asked for 40)"},
        {"sampling_frequency", "10", "10 12.5 25 50 100", 200, "100",
         "100 samples per second (asked for 200)"},
        {"in_accel_sampling_frequency", "100", "100 12.5 25", 12, "12.5",
         "12.5 samples per second (asked for 12)"},
        {"sampling_frequency", "50\n", "25 50", 50, "50\n", "50 samples per second"},
        {"sampling_frequency", "1", "[0.5 0.5 200]", 40, "40", "40 samples per second"},
    };
    for (const auto& c : cases) {
        const fs::path path = device({{c.file, c.was}, {c.file + "_available"s, c.available}});
        IioSource source(root_, std::nullopt, c.wanted);
        EXPECT_EQ(testing_support::readFile(path / c.file), c.written) << c.file;
        EXPECT_EQ(source.deviceRate(), std::stod(c.written));
        EXPECT_EQ(source.startMessage(),
                  "trembit: source: iio:accel_3d (" + path.string() + "), " + c.rateText);
    }
}

TEST_F(IioSourceTest, HysteresisIsTurnedOffAndRefusalsAreMentionedNotFatal) {
    const fs::path path =
        device({{"in_accel_hysteresis", "0.05\n"}, {"in_accel_hysteresis_relative", "0\n"}});
    IioSource source(root_, std::nullopt, 40.0);
    EXPECT_EQ(testing_support::readFile(path / "in_accel_hysteresis"), "0");
    EXPECT_EQ(testing_support::readFile(path / "in_accel_hysteresis_relative"), "0\n")
        << "already off: left alone";
    EXPECT_EQ(source.startMessage().find('\n'), std::string::npos) << source.startMessage();

    // A link out of the device folder is not written through.
    write(root_ / "outside", "0.05\n");
    const fs::path refusing =
        device({{"sampling_frequency", kFolder}, {"sampling_frequency_available", "25 50"}});
    fs::create_symlink(root_ / "outside", refusing / "in_accel_hysteresis");
    IioSource stubborn(root_, std::nullopt, 40.0);
    EXPECT_EQ(testing_support::readFile(root_ / "outside"), "0.05\n");
    EXPECT_EQ(
        stubborn.startMessage(),
        "trembit: source: iio:accel_3d (" + refusing.string() +
            "), at a rate it does not say (asked for 40)\n"
            "trembit: iio:accel_3d: could not set the rate to 50 samples per second (" +
            (refusing / "sampling_frequency").string() +
            ": Is a directory)\n"
            "trembit: iio:accel_3d: could not turn off the hysteresis, so small movements may not show (" +
            (refusing / "in_accel_hysteresis").string() + ": a symbolic link, not followed)");
    expectSample(stubborn.nextSample(0.0), {0.0, 0.0, -1.0}, "samples still come");
}

TEST_F(IioSourceTest, UnusableCalibrationIsAStartErrorNamingTheFile) {
    const struct {
        const char* file;
        std::string text;
        std::string problem;
    } cases[] = {
        {"in_accel_y_offset", "1.5.2", "cannot use $: '1.5.2' is not a number"},
        {"in_accel_z_scale", "nan", "cannot use $: 'nan' is not a number"},
        {"in_accel_scale", "\x01\xff", "cannot use $: '\\x01\\xff' is not a number"},
        {"in_accel_scale", std::string(IioSource::kMaxAttributeBytes + 1, '1'),
         "cannot read $: longer than 4096 bytes"},
        {"in_accel_x_scale", kFolder, "cannot read $: Is a directory"},
        {"in_accel_z_raw", kFolder, "cannot read $: Is a directory"},
        {"mount_matrix", "1, 0, 0; 0, 1, 0",
         "cannot use $: '1, 0, 0; 0, 1, 0' is not three rows of three numbers"},
    };
    for (const auto& c : cases) {
        const fs::path path = device({{c.file, c.text}});
        std::string expected = c.problem;
        expected.replace(expected.find('$'), 1, (path / c.file).string());
        EXPECT_EQ(errorFrom(), expected);
    }
}

// Readings that are not whole numbers are skipped and counted; a device that goes away is said once
// and then delivers nothing, the run going on standing still.
TEST_F(IioSourceTest, BadReadingsAreSkippedAndADeviceThatGoesAwayIsSaidOnce) {
    const fs::path path = device({});
    IioSource source(root_, std::nullopt, 40.0);
    int samples = 0;
    for (const char* raw : {"12abc\n", "", "1.5", "99999999999999999999", "-100\n"}) {
        testing_support::writeFile(path / "in_accel_y_raw", raw); // "": there, but empty
        if (const std::optional<Acceleration> sample = source.nextSample(0.0)) {
            ++samples;
            EXPECT_NEAR(sample->y, 1.0, kTolerance);
        }
    }
    EXPECT_EQ(samples, 1);
    fs::remove_all(path);
    EXPECT_EQ(testing_support::stderrOf([&] {
                  EXPECT_EQ(source.nextSample(0.025), std::nullopt);
                  EXPECT_EQ(source.nextSample(0.05), std::nullopt);
                  EXPECT_TRUE(source.isGone());
                  EXPECT_FALSE(source.isExhausted());
                  source.finish();
                  source.finish();
              }),
              "trembit: iio:accel_3d: the device is gone (" + (path / "in_accel_x_raw").string() +
                  ": No such file or directory); no new samples\n"
                  "trembit: iio:accel_3d: skipped 4 readings (the first: " +
                  (path / "in_accel_y_raw").string() + " held '12abc', not a whole number)\n");
}

} // namespace
