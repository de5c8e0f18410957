// Feeds arbitrary bytes to the readers of IIO attribute files, as sysfs (or a faulty driver) might hold
// them. Whatever reads as a value must be finite and must read the same once written back out; the
// sampling frequency chosen from a list must be one of the list, and the right one.
#include "platform/services/IioSource.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

std::string text(double value) {
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return std::string(buffer, static_cast<std::size_t>(length));
}

void checkNumber(std::string_view bytes) {
    const std::optional<double> value = platform::parseIioNumber(bytes);
    if (value && (!std::isfinite(*value) || platform::parseIioNumber(text(*value)) != value)) {
        __builtin_trap();
    }
    // A whole number is a number too, rounded the same way.
    const std::optional<std::int64_t> whole = platform::parseIioInteger(bytes);
    if (whole && (platform::parseIioInteger(std::to_string(*whole)) != whole ||
                  platform::parseIioNumber(bytes) != static_cast<double>(*whole))) {
        __builtin_trap();
    }
}

void checkMatrix(std::string_view bytes) {
    const std::optional<std::array<double, 9>> matrix = platform::parseMountMatrix(bytes);
    if (!matrix) {
        return;
    }
    std::string written;
    for (std::size_t i = 0; i < matrix->size(); ++i) {
        if (!std::isfinite((*matrix)[i])) {
            __builtin_trap();
        }
        written += text((*matrix)[i]) + (i == 8 ? "\n" : i % 3 == 2 ? "; " : ", ");
    }
    if (platform::parseMountMatrix(written) != matrix) {
        __builtin_trap();
    }
}

void checkFrequencies(std::string_view bytes) {
    const std::vector<double> list = platform::parseFrequencyList(bytes);
    std::string written;
    for (const double frequency : list) {
        if (!std::isfinite(frequency) || frequency <= 0.0) {
            __builtin_trap();
        }
        written += text(frequency) + " ";
    }
    if (platform::parseFrequencyList(written) != list) {
        __builtin_trap();
    }
    for (const double wanted : {0.0, 40.0, list.empty() ? 1.0 : list.front(), 1e300}) {
        const std::optional<double> chosen = platform::chooseSamplingFrequency(list, wanted);
        if (chosen.has_value() == list.empty() ||
            (chosen && std::find(list.begin(), list.end(), *chosen) == list.end())) {
            __builtin_trap();
        }
        if (!chosen) {
            continue;
        }
        const bool fastEnoughExists =
            std::any_of(list.begin(), list.end(), [&](double f) { return f >= wanted; });
        for (const double other : list) {
            // Nothing slower yet fast enough; failing that, nothing faster at all.
            if (fastEnoughExists ? (other >= wanted && other < *chosen) : other > *chosen) {
                __builtin_trap();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkNumber(bytes);
    checkMatrix(bytes);
    checkFrequencies(bytes);
    return 0;
}
