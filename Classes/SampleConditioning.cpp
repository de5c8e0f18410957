#include "Classes/SampleConditioning.h"

#include <bit>
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

// sqrt(z * z) in 32-bit. Each sample waits on the square root, yet wherever the square is a normal
// float, rounding it and taking the root gives back |z| exactly (a test runs through every float).
float rootOfSquare(float z) {
    constexpr float kSmallest = 0x1p-63f;
    constexpr float kLargest = 0x1p63f;
    const float size = std::fabs(z);
    if (size >= kSmallest && size <= kLargest) {
        return size;
    }
    return std::sqrt(z * z);
}

// The logarithmic scale as written, through libm: the value every quicker route must equal.
[[gnu::noinline]] float logarithmicDeflectionByLibm(float product) {
    // log10(0) would raise the divide-by-zero flag (and trap where that is enabled); its -inf would
    // be clamped to 0 anyway, so answer 0 directly.
    if (product == 0.0f) {
        return 0.0f;
    }
    const float value = static_cast<float>(std::log10(static_cast<double>(product)) / kLogDecades);
    return value < 0.0f ? 0.0f : value;
}

// libm's log10 costs more than the rest of a sample's way to the page together, so for products
// above 1 (at or below 1 the deflection clamps to 0) the quotient log10(product) / 2.6 is worked
// out here: the product's binary exponent, a table at 129 points c between 1 and 2, and the series
// for log(1 + r) with |r| <= 2^-8, all scaled to the quotient beforehand. That estimate is within
// a few double ulps of the exact quotient, as is libm's route, so both narrow to the same float
// unless the quotient lies near a point halfway between two floats. There, within a margin far
// wider than both errors, libm decides: about one product in 16,000. A test holds the two routes
// equal over every float.
namespace log10_table {

constexpr int kIntervalBits = 7;
constexpr int kIntervals = 1 << kIntervalBits;
constexpr int kFloatMantissaBits = 23;
constexpr int kDoubleMantissaBits = 52;
constexpr std::uint32_t kFloatExponentBias = 127;
constexpr std::uint32_t kFloatExponentAllOnes = 255;
constexpr int kSeriesTerms = 6;

// Bits of a double's mantissa below a float's: where they read exactly 1000...0, the double lies
// halfway between two floats.
constexpr int kBitsBelowFloat = kDoubleMantissaBits - kFloatMantissaBits;
constexpr std::uint64_t kHalfway = std::uint64_t{1} << (kBitsBelowFloat - 1);
constexpr std::uint64_t kBelowFloatMask = (std::uint64_t{1} << kBitsBelowFloat) - 1;
constexpr std::uint64_t kMargin = std::uint64_t{1} << 14;

struct Point {
    double inverse;  // 2^-23 / c: takes the mantissa's distance from c, in its last bits, to r
    double quotient; // log10(c) / 2.6
};

struct Table {
    std::array<Point, kIntervals + 1> points{};
    double quotientPerOctave = std::log10(2.0) / kLogDecades;
    // log(1 + r) / (2.6 ln 10) = sum of series[k - 1] r^k
    std::array<double, kSeriesTerms> series{};
};

const Table kTable = [] {
    Table table;
    // The last point serves mantissas that round up to 2.
    for (std::size_t i = 0; i < table.points.size(); ++i) {
        const double c = 1.0 + static_cast<double>(i) / kIntervals;
        table.points[i] = {std::ldexp(1.0 / c, -kFloatMantissaBits), std::log10(c) / kLogDecades};
    }
    const double perNaturalLog = 1.0 / (kLogDecades * std::log(10.0));
    for (int k = 1; k <= kSeriesTerms; ++k) {
        table.series[static_cast<std::size_t>(k - 1)] = (k % 2 == 1 ? 1.0 : -1.0) * perNaturalLog / k;
    }
    return table;
}();

} // namespace log10_table

// Inline in the sample's path; libm's route stays out of line.
inline float deflectionOnLogScale(float product) {
    using namespace log10_table;
    // Also takes +-0, and lets NaN, infinity and negatives through to libm.
    if (product >= 0.0f && product <= 1.0f) {
        return 0.0f;
    }
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(product);
    const std::uint32_t exponentField = bits >> kFloatMantissaBits;
    if (exponentField >= kFloatExponentAllOnes) {
        return logarithmicDeflectionByLibm(product);
    }
    const std::int32_t mantissa = static_cast<std::int32_t>(bits & ((1u << kFloatMantissaBits) - 1u));
    // The nearest point, and the mantissa's distance from it: at most 2^15 last bits, exact.
    constexpr int kBelowInterval = kFloatMantissaBits - kIntervalBits;
    const std::int32_t i = (mantissa + (1 << (kBelowInterval - 1))) >> kBelowInterval;
    const Point& point = kTable.points[static_cast<std::size_t>(i)];
    const double r = static_cast<double>(mantissa - (i << kBelowInterval)) * point.inverse;

    // Estrin's grouping rather than Horner's: a sample waits on this chain, and it is half as long.
    const std::array<double, kSeriesTerms>& a = kTable.series;
    const double r2 = r * r;
    const double low = a[0] * r + r2 * (a[1] + a[2] * r);
    const double high = (a[3] + a[4] * r) + r2 * a[5];
    const double series = low + (r2 * r2) * high;
    const double octaves = static_cast<double>(static_cast<std::int32_t>(exponentField) -
                                               static_cast<std::int32_t>(kFloatExponentBias));
    const double quotient = (octaves * kTable.quotientPerOctave + point.quotient) + series;

    const std::uint64_t belowFloat = std::bit_cast<std::uint64_t>(quotient) & kBelowFloatMask;
    if (belowFloat - (kHalfway - kMargin) <= 2 * kMargin) {
        return logarithmicDeflectionByLibm(product);
    }
    return static_cast<float>(quotient);
}

} // namespace

float logarithmicDeflection(float product) {
    return deflectionOnLogScale(product);
}

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
        magnitude = rootOfSquare(d[kZ]);
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
