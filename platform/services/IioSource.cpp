#include "platform/services/IioSource.h"

#include "platform/services/OwnedFd.h"
#include "platform/services/Printable.h"
#include "platform/services/Units.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <stdexcept>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::array<const char*, 3> kAxes = {"x", "y", "z"};
// Stands for "longer than kMaxAttributeBytes" among the errno values a read gives.
constexpr int kTooLong = EFBIG;
// Stands for "a symbolic link" among the errno values a write gives (O_NOFOLLOW's ELOOP).
constexpr int kSymbolicLink = ELOOP;

struct AttributeText {
    std::string text;
    int error = 0; // errno of the failed open or read, kTooLong, or 0
};

// sysfs gives an attribute in one read, but a fake tree or a slow driver may not; the loop stops at one
// byte past the limit so that an oversized file is recognised without reading all of it.
AttributeText readAttribute(const fs::path& file) {
    // O_NONBLOCK: a fifo planted in the tree must not hang the program at open.
    const OwnedFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        return {{}, errno};
    }
    std::array<char, IioSource::kMaxAttributeBytes + 1> buffer;
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::read(fd.get(), buffer.data() + got, buffer.size() - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {{}, errno};
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got > IioSource::kMaxAttributeBytes) {
        return {{}, kTooLong};
    }
    return {std::string(buffer.data(), got), 0};
}

// 0 or the errno of the failed open or write. O_TRUNC is ignored by sysfs but keeps a plain file (a
// test's tree) holding just what was written. Attributes are never symbolic links in sysfs: one in
// a device folder could lead a write (made as root, perhaps) to any file at all, so it is refused.
int writeAttribute(const fs::path& file, std::string_view text) {
    const OwnedFd fd(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (fd.get() < 0) {
        return errno == ELOOP ? kSymbolicLink : errno;
    }
    while (true) {
        const ssize_t n = ::write(fd.get(), text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno;
        }
        return static_cast<std::size_t>(n) == text.size() ? 0 : EIO;
    }
}

std::string reason(int error) {
    if (error == kTooLong) {
        return "longer than " + std::to_string(IioSource::kMaxAttributeBytes) + " bytes";
    }
    if (error == kSymbolicLink) {
        return "a symbolic link, not followed";
    }
    return std::generic_category().message(error);
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// What a file held, in quotes, made safe to show.
std::string excerpt(std::string_view text) {
    std::string quoted = "'"; // built up: GCC 12 mistakes "'" + text for an overlapping copy
    quoted += printable(trimmed(text));
    return quoted += "'";
}

// Fixed notation to the microhertz, without trailing zeros: the kernel's number parser knows no
// exponents and no more decimals, and 1 / (1 / 40.0) should read as 40.
std::string formatNumber(double value) {
    std::array<char, 512> text; // enough for any double at six decimals
    const int length = std::snprintf(text.data(), text.size(), "%.6f", value);
    std::string out(text.data(), static_cast<std::size_t>(std::max(length, 0)));
    if (out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.back() == '.') {
            out.pop_back();
        }
    }
    return out;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// iio:device2 before iio:device10: runs of digits compare as numbers.
bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t aEnd = i;
            std::size_t bEnd = j;
            while (aEnd < a.size() && isDigit(a[aEnd])) {
                ++aEnd;
            }
            while (bEnd < b.size() && isDigit(b[bEnd])) {
                ++bEnd;
            }
            std::string_view aRun = a.substr(i, aEnd - i);
            std::string_view bRun = b.substr(j, bEnd - j);
            aRun.remove_prefix(std::min(aRun.find_first_not_of('0'), aRun.size()));
            bRun.remove_prefix(std::min(bRun.find_first_not_of('0'), bRun.size()));
            if (aRun.size() != bRun.size()) {
                return aRun.size() < bRun.size();
            }
            if (aRun != bRun) {
                return aRun < bRun;
            }
            i = aEnd;
            j = bEnd;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) {
        return a.size() - i < b.size() - j;
    }
    return a < b; // "dev01" and "dev1": any fixed order
}

bool isPresent(const fs::path& file) {
    std::error_code ignored;
    return fs::exists(file, ignored);
}

// The first of `names` present in `folder`; empty when none is.
fs::path firstPresent(const fs::path& folder, std::initializer_list<std::string> names) {
    for (const std::string& name : names) {
        if (isPresent(folder / name)) {
            return folder / name;
        }
    }
    return {};
}

// The number in an attribute file that must be usable once it is there.
double readNumber(const fs::path& file) {
    const AttributeText attribute = readAttribute(file);
    if (attribute.error != 0) {
        throw std::runtime_error("cannot read " + file.string() + ": " + reason(attribute.error));
    }
    const std::optional<double> value = parseIioNumber(attribute.text);
    if (!value) {
        throw std::runtime_error("cannot use " + file.string() + ": " + excerpt(attribute.text) +
                                 " is not a number");
    }
    return *value;
}

// A device that has gone away: its folder or its driver.
bool meansGone(int error) {
    return error == ENOENT || error == ENODEV || error == ENXIO;
}

// The device's name comes from the driver, or from whoever made the tree: made safe to show.
std::string deviceLabel(const IioDevice& device) {
    return printable(device.name.empty() ? device.path.filename().string() : device.name);
}

} // namespace

std::optional<double> parseIioNumber(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (error != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parseIioInteger(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::array<double, 9>> parseMountMatrix(std::string_view text) {
    std::array<double, 9> matrix{};
    std::size_t count = 0;
    for (std::size_t row = 0; row < 3; ++row) {
        const std::size_t semicolon = text.find(';');
        if ((semicolon == std::string_view::npos) != (row == 2)) {
            return std::nullopt; // fewer or more than three rows
        }
        std::string_view rowText = text.substr(0, semicolon);
        text.remove_prefix(semicolon == std::string_view::npos ? text.size() : semicolon + 1);
        for (std::size_t column = 0; column < 3; ++column) {
            const std::size_t comma = rowText.find(',');
            if ((comma == std::string_view::npos) != (column == 2)) {
                return std::nullopt; // fewer or more than three numbers in the row
            }
            const std::optional<double> value = parseIioNumber(rowText.substr(0, comma));
            if (!value) {
                return std::nullopt;
            }
            matrix[count++] = *value;
            rowText.remove_prefix(comma == std::string_view::npos ? rowText.size() : comma + 1);
        }
    }
    return matrix;
}

std::vector<double> parseFrequencyList(std::string_view text) {
    std::vector<double> frequencies;
    while (true) {
        const std::size_t begin = text.find_first_not_of(kBlanks);
        if (begin == std::string_view::npos) {
            return frequencies;
        }
        text.remove_prefix(begin);
        const std::size_t end = std::min(text.find_first_of(kBlanks), text.size());
        const std::optional<double> value = parseIioNumber(text.substr(0, end));
        if (!value || *value <= 0.0) {
            return {};
        }
        frequencies.push_back(*value);
        text.remove_prefix(end);
    }
}

std::optional<double> chooseSamplingFrequency(const std::vector<double>& available, double wanted) {
    std::optional<double> fastest;
    std::optional<double> chosen;
    for (const double frequency : available) {
        if (!fastest || frequency > *fastest) {
            fastest = frequency;
        }
        if (frequency >= wanted && (!chosen || frequency < *chosen)) {
            chosen = frequency;
        }
    }
    return chosen ? chosen : fastest;
}

std::vector<IioDevice> IioSource::findAccelerometers(const fs::path& sysfsRoot) {
    std::vector<IioDevice> devices;
    std::error_code error;
    fs::directory_iterator entry(sysfsRoot / "bus" / "iio" / "devices", error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const fs::path& folder = entry->path();
        const bool isAccelerometer = std::all_of(kAxes.begin(), kAxes.end(), [&](const char* axis) {
            return isPresent(folder / (std::string("in_accel_") + axis + "_raw"));
        });
        if (!isAccelerometer) {
            continue;
        }
        const AttributeText name = readAttribute(folder / "name");
        devices.push_back({folder, name.error == 0 ? std::string(trimmed(name.text)) : std::string()});
    }
    std::sort(devices.begin(), devices.end(), [](const IioDevice& a, const IioDevice& b) {
        return naturalLess(a.path.filename().string(), b.path.filename().string());
    });
    return devices;
}

IioSource::IioSource(const fs::path& sysfsRoot, std::optional<std::string> name, double wantedRate) {
    const fs::path folder = sysfsRoot / "bus" / "iio" / "devices";
    const std::vector<IioDevice> devices = findAccelerometers(sysfsRoot);
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&](const IioDevice& device) { return !name || device.name == *name; });
    if (found == devices.end()) {
        std::string message = name ? "no IIO accelerometer named '" + *name + "' under " + folder.string()
                                   : "no IIO accelerometer under " + folder.string();
        if (!devices.empty()) {
            message += " (found ";
            for (std::size_t i = 0; i < devices.size(); ++i) {
                message += (i == 0 ? "'" : ", '") + deviceLabel(devices[i]) + "'";
            }
            message += ")";
        }
        throw std::runtime_error(message);
    }
    device_ = *found;
    const fs::path& path = device_.path;

    std::vector<std::string> notes;
    bool scaleMissing = false;
    for (std::size_t i = 0; i < kAxes.size(); ++i) {
        const std::string axis = kAxes[i];
        Channel& channel = channels_[i];
        channel.raw = path / ("in_accel_" + axis + "_raw");
        const fs::path scale = firstPresent(path, {"in_accel_" + axis + "_scale", "in_accel_scale"});
        if (scale.empty()) {
            scaleMissing = true;
        } else {
            channel.scale = readNumber(scale);
        }
        const fs::path offset = firstPresent(path, {"in_accel_" + axis + "_offset", "in_accel_offset"});
        if (!offset.empty()) {
            channel.offset = readNumber(offset);
        }
        // A channel that can not be read now never will be; better said at once than tick by tick.
        const AttributeText raw = readAttribute(channel.raw);
        if (raw.error != 0) {
            throw std::runtime_error("cannot read " + channel.raw.string() + ": " + reason(raw.error));
        }
    }
    if (scaleMissing) {
        notes.push_back("the device gives no scale, so its raw counts are taken as m/s²");
    }

    const fs::path matrix = firstPresent(path, {"mount_matrix", "in_accel_mount_matrix"});
    if (!matrix.empty()) {
        const AttributeText text = readAttribute(matrix);
        if (text.error != 0) {
            throw std::runtime_error("cannot read " + matrix.string() + ": " + reason(text.error));
        }
        mountMatrix_ = parseMountMatrix(text.text);
        if (!mountMatrix_) {
            throw std::runtime_error("cannot use " + matrix.string() + ": " + excerpt(text.text) +
                                     " is not three rows of three numbers");
        }
    }

    setUpRate(wantedRate, notes);
    turnOffHysteresis(notes);

    startMessage_ = "trembit: source: " + description() + " (" + path.string() + "), ";
    if (deviceRate_ > 0.0) {
        startMessage_ += formatNumber(deviceRate_) + " samples per second";
        if (formatNumber(deviceRate_) != formatNumber(wantedRate)) {
            startMessage_ += " (asked for " + formatNumber(wantedRate) + ")";
        }
    } else {
        startMessage_ += "at a rate it does not say (asked for " + formatNumber(wantedRate) + ")";
    }
    for (const std::string& note : notes) {
        startMessage_ += "\ntrembit: " + description() + ": " + note;
    }
}

void IioSource::setUpRate(double wantedRate, std::vector<std::string>& notes) {
    const fs::path& path = device_.path;
    const fs::path frequency = firstPresent(path, {"sampling_frequency", "in_accel_sampling_frequency"});
    if (frequency.empty()) {
        return;
    }
    const fs::path list =
        firstPresent(path, {"sampling_frequency_available", "in_accel_sampling_frequency_available"});
    std::optional<double> target;
    if (!list.empty()) {
        target = chooseSamplingFrequency(parseFrequencyList(readAttribute(list).text), wantedRate);
    }
    if (!target && std::isfinite(wantedRate) && wantedRate > 0.0) {
        target = wantedRate; // no usable list: the driver rounds to what it can do
    }
    const auto current = [&] { return parseIioNumber(readAttribute(frequency).text); };
    // Writing what is already set would only earn a permission note for nothing.
    if (target && current() != target) {
        if (const int error = writeAttribute(frequency, formatNumber(*target)); error != 0) {
            notes.push_back("could not set the rate to " + formatNumber(*target) + " samples per second (" +
                            frequency.string() + ": " + reason(error) + ")");
        }
    }
    deviceRate_ = current().value_or(0.0);
    if (deviceRate_ < 0.0) {
        deviceRate_ = 0.0;
    }
}

void IioSource::turnOffHysteresis(std::vector<std::string>& notes) {
    // Laptop sensor hubs hold a reading until it changes by the hysteresis: a tremor would never show.
    for (const char* name : {"in_accel_hysteresis", "in_accel_hysteresis_relative"}) {
        const fs::path file = device_.path / name;
        const AttributeText text = readAttribute(file);
        if (text.error == ENOENT || (text.error == 0 && parseIioNumber(text.text) == 0.0)) {
            continue;
        }
        if (const int error = writeAttribute(file, "0"); error != 0) {
            notes.push_back("could not turn off the hysteresis, so small movements may not show (" +
                            file.string() + ": " + reason(error) + ")");
        }
    }
}

std::string IioSource::description() const {
    return "iio:" + deviceLabel(device_);
}

std::optional<Acceleration> IioSource::nextSample(double) {
    if (gone_) {
        return std::nullopt;
    }
    std::array<double, 3> value{};
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const Channel& channel = channels_[i];
        const AttributeText text = readAttribute(channel.raw);
        if (meansGone(text.error)) {
            gone_ = true;
            std::cerr << ("trembit: " + description() + ": the device is gone (" + channel.raw.string() +
                          ": " + reason(text.error) + "); no new samples\n")
                      << std::flush;
            return std::nullopt;
        }
        std::optional<std::int64_t> raw;
        if (text.error == 0) {
            raw = parseIioInteger(text.text);
        }
        if (!raw) {
            if (skipped_++ == 0) {
                firstSkipReason_ =
                    text.error != 0
                        ? "could not read " + channel.raw.string() + ": " + reason(text.error)
                        : channel.raw.string() + " held " + excerpt(text.text) + ", not a whole number";
            }
            return std::nullopt;
        }
        value[i] = (static_cast<double>(*raw) + channel.offset) * channel.scale / kStandardGravity;
    }
    if (mountMatrix_) {
        const std::array<double, 9>& m = *mountMatrix_;
        value = {m[0] * value[0] + m[1] * value[1] + m[2] * value[2],
                 m[3] * value[0] + m[4] * value[1] + m[5] * value[2],
                 m[6] * value[0] + m[7] * value[1] + m[8] * value[2]};
    }
    return Acceleration{-value[0], -value[1], -value[2]};
}

void IioSource::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (skipped_ > 0) {
        std::cerr << ("trembit: " + description() + ": skipped " + std::to_string(skipped_) + " " +
                      (skipped_ == 1 ? "reading" : "readings") + " (the first: " + firstSkipReason_ + ")\n")
                  << std::flush;
    }
}

} // namespace platform
