#include "Classes/SampleConditioning.h"

#include <cmath>
#include <cstddef>

// Every intermediate below is rounded to the width it is declared with, in the order written. Do
// not merge steps or widen a float to double "for accuracy": the drawn trace is fixed to the bit,
// and this file must be built with -ffp-contract=off so no multiply-add is fused.

namespace {

constexpr std::int32_t kFilterOn = 1;

constexpr std::int32_t kAxisZ = 0;
constexpr std::int32_t kAxisYZ = 1;
constexpr std::int32_t kAxisXYZ = 2;

constexpr std::int32_t kScaleLogarithmic = 0;

// One-pole high-pass: the memory follows the input halfway each sample.
constexpr double kHighPassInputWeight = 0.5;
constexpr double kHighPassMemoryWeight = 0.5;

// Logarithmic scale: a deflection of 1.0 is reached at 10^kLogDecades / kLogGain g.
constexpr float kLogGain = 60.0f;
constexpr double kLogDecades = 2.6;

// Linear scale: a deflection of 1.0 is reached at 4 g.
constexpr float kLinearGain = 0.25f;

constexpr std::size_t kX = 0;
constexpr std::size_t kY = 1;
constexpr std::size_t kZ = 2;

constexpr float kDefaultRate = 40.0f;
constexpr std::array<float, 4> kRates = {20.0f, 40.0f, 60.0f, 200.0f};

// Rounds to 32 bits through a volatile so the rounding cannot be optimised away. GCC 12 at -O3
// vectorises the x and y differences and then folds their widening back to 64 bits for the
// high-pass onto the unrounded differences, silently skipping the rounding.
float narrow(double value) {
    const volatile float rounded = static_cast<float>(value);
    return rounded;
}

// The logarithmic scale: log10 of the product in 64-bit, divided by 2.6, clamped below at 0.
float deflectionOnLogScale(float product) {
    // log10(0) would raise the divide-by-zero flag (and trap where that is enabled); its -inf would
    // be clamped to 0 anyway, so answer 0 directly.
    if (product == 0.0f) {
        return 0.0f;
    }
    const float value = static_cast<float>(std::log10(static_cast<double>(product)) / kLogDecades);
    return value < 0.0f ? 0.0f : value;
}

} // namespace

float conditionSample(const platform::Acceleration& sample, std::array<double, 3>& lastAcceleration,
                      std::array<double, 3>& filter, std::int32_t settingsFilter, std::int32_t settingsAxis,
                      std::int32_t settingsScale) {
    // Previous minus current, taken in 64-bit and only then narrowed.
    std::array<float, 3> d = {
        narrow(lastAcceleration[kX] - sample.x),
        narrow(lastAcceleration[kY] - sample.y),
        narrow(lastAcceleration[kZ] - sample.z),
    };
    lastAcceleration = {sample.x, sample.y, sample.z};

    // The filter runs on all three components whatever the axis, so switching axis later does not
    // start from a stale memory.
    if (settingsFilter == kFilterOn) {
        for (std::size_t i = 0; i < d.size(); ++i) {
            const double in = static_cast<double>(d[i]);
            filter[i] = in * kHighPassInputWeight + kHighPassMemoryWeight * filter[i];
            d[i] = static_cast<float>(in - filter[i]);
        }
    }

    float magnitude = 0.0f;
    float signSum = 0.0f;
    switch (settingsAxis) {
    case kAxisZ:
        magnitude = std::sqrt(d[kZ] * d[kZ]);
        signSum = d[kZ];
        break;
    case kAxisYZ:
        magnitude = std::sqrt(d[kY] * d[kY] + d[kZ] * d[kZ]);
        signSum = d[kY] + d[kZ];
        break;
    case kAxisXYZ:
        magnitude = std::sqrt((d[kX] * d[kX] + d[kY] * d[kY]) + d[kZ] * d[kZ]);
        signSum = (d[kX] + d[kY]) + d[kZ];
        break;
    default:
        break;
    }

    float value = 0.0f;
    if (settingsScale == kScaleLogarithmic) {
        value = deflectionOnLogScale(magnitude * kLogGain);
    } else {
        value = magnitude * kLinearGain;
    }

    if (value < 0.0f) {
        value = 0.0f;
    }
    // Applied after the clamp: a clamped value on a negative swing comes out as -0.
    if (signSum < 0.0f) {
        value = -value;
    }
    return value;
}

float updateFrequencyRate(std::int32_t settingsUpdateFrequency) {
    if (settingsUpdateFrequency < 0 || settingsUpdateFrequency >= static_cast<std::int32_t>(kRates.size())) {
        return kDefaultRate;
    }
    return kRates[static_cast<std::size_t>(settingsUpdateFrequency)];
}

double updateInterval(std::int32_t settingsUpdateFrequency) {
    return 1.0 / static_cast<double>(updateFrequencyRate(settingsUpdateFrequency));
}
