#pragma once

// An accelerometer of the Linux Industrial I/O subsystem, read through its sysfs attribute files.
//
// Each channel's reading is (raw + offset) × scale in m/s². The device's own axes are turned into the
// machine's by its mount matrix, when it has one. IIO counts gravity as an upward acceleration (a
// machine lying flat on its back reads about +1 g on z), while the recorder counts it downward
// (0, 0, −1) g, so every sample is negated last.

#include "platform/services/SampleSource.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// One accelerometer found under a sysfs root.
struct IioDevice {
    std::filesystem::path path; ///< its folder, e.g. /sys/bus/iio/devices/iio:device0
    std::string name;           ///< the contents of its `name` file, trimmed; empty when it has none
};

/// A number as an IIO attribute file holds it ("0.009576\n", "-12"): blanks and line breaks around it
/// are allowed, anything else is not. None unless the whole text is one finite number.
std::optional<double> parseIioNumber(std::string_view text);

/// A raw channel reading: one whole number, blanks and line breaks around it allowed.
std::optional<std::int64_t> parseIioInteger(std::string_view text);

/// A mount matrix, "x1, y1, z1; x2, y2, z2; x3, y3, z3", as nine finite numbers in row order. None
/// unless the text is exactly three rows of three numbers.
std::optional<std::array<double, 9>> parseMountMatrix(std::string_view text);

/// A list of available sampling frequencies, "10 12.5 25\n", in the order written. Empty unless every
/// word is a positive finite number (a range written as "[min step max]" is not a list).
std::vector<double> parseFrequencyList(std::string_view text);

/// The frequency to ask of a device that offers `available` (in any order) when `wanted` samples per
/// second are wanted: the slowest at least as fast as wanted, or else the fastest there is. None when
/// nothing is available.
std::optional<double> chooseSamplingFrequency(const std::vector<double>& available, double wanted);

/// Samples from an IIO accelerometer, read from sysfs on the calling thread at each tick.
///
/// The constructor reads the scale, offset and mount matrix once, sets the sampling frequency and
/// turns off hysteresis; nextSample() then reads the three raw channels. A device that goes away
/// mid-run (unplugged, driver unloaded) is reported once and ends the source; a reading that is not a
/// number is skipped and counted, and finish() reports it.
class IioSource final : public SampleSource {
public:
    /// Attribute files are read up to this many bytes; a longer one is not an attribute.
    static constexpr std::size_t kMaxAttributeBytes = 4096;

    /// The accelerometers under `<sysfsRoot>/bus/iio/devices`: the device folders that have all three
    /// raw acceleration channels, in natural order of folder name (iio:device2 before iio:device10).
    /// Empty when there are none or the folder cannot be read.
    static std::vector<IioDevice> findAccelerometers(const std::filesystem::path& sysfsRoot);

    /// Opens the accelerometer called `name`, or the first found when none is given, and asks it for
    /// `wantedRate` samples per second. Throws std::runtime_error naming the folder or file when there is
    /// no such device, or when its scale, offset, mount matrix or a raw channel can not be read. A
    /// setting the device refuses (frequency, hysteresis) is not an error: startMessage() mentions it.
    IioSource(const std::filesystem::path& sysfsRoot, std::optional<std::string> name, double wantedRate);

    /// The device's current reading, in g; none once the device is gone or when a raw channel held
    /// something other than a number (the next tick tries again).
    std::optional<Acceleration> nextSample(double now) override;
    /// Never: a device that goes away leaves the recorder standing still, as when paused, rather
    /// than ending the run; it was said once when it went.
    bool isExhausted() const override { return false; }
    /// True once the device has gone away.
    bool isGone() const { return gone_; }
    /// "iio:" and the device's name (its folder name when it has none).
    std::string description() const override;
    /// Says on stderr how many readings were skipped, if any. Says it once, however often it is called.
    void finish() override;

    /// The device's sampling frequency as read back after setting it, in samples per second; 0 when the
    /// device does not say.
    double deviceRate() const { return deviceRate_; }
    /// What the user should know at start: the device, its rate and anything it refused or lacks. One
    /// or more lines, each starting "trembit: ", without a final line break.
    std::string startMessage() const { return startMessage_; }
    /// The device folder in use.
    const std::filesystem::path& devicePath() const { return device_.path; }

    std::uint64_t skippedReadings() const { return skipped_; }

private:
    struct Channel {
        std::filesystem::path raw; // in_accel_<axis>_raw
        double scale = 1.0;        // m/s² per count
        double offset = 0.0;       // counts
    };

    void setUpRate(double wantedRate, std::vector<std::string>& notes);
    void turnOffHysteresis(std::vector<std::string>& notes);

    IioDevice device_;
    std::array<Channel, 3> channels_;
    std::optional<std::array<double, 9>> mountMatrix_;
    double deviceRate_ = 0.0;
    std::string startMessage_;
    bool gone_ = false;
    bool finished_ = false;
    std::uint64_t skipped_ = 0;   // ticks skipped for a reading that was not a number or not readable
    std::string firstSkipReason_; // why the first of them was skipped
};

} // namespace platform
