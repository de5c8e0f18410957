#pragma once

// Turns raw accelerometer samples into the deflection values the recorder draws. The function is
// pure apart from the two state arrays it is handed, so the caller owns the signal state and the
// results are reproducible to the bit: every step keeps the width (32 or 64 bits) it is written in.

#include "platform/services/Acceleration.h"

#include <array>
#include <cstdint>

/// Conditions one accelerometer sample into a deflection value and advances the signal state.
///
/// lastAcceleration holds the previous sample (x, y, z) and is overwritten with this one. filter
/// holds the high-pass memory; it is read and written only when settingsFilter == 1.
/// settingsAxis: 0 = z only, 1 = y and z, 2 = x, y and z; anything else draws a flat line.
/// settingsScale: 0 = logarithmic, anything else = linear.
float conditionSample(const platform::Acceleration& sample, std::array<double, 3>& lastAcceleration,
                      std::array<double, 3>& filter, std::int32_t settingsFilter, std::int32_t settingsAxis,
                      std::int32_t settingsScale);

/// Samples per second for a settingsUpdateFrequency index (20, 40, 60, 200); any other index gives 40.
float updateFrequencyRate(std::int32_t settingsUpdateFrequency);

/// Seconds between samples for a settingsUpdateFrequency index: 1.0 / rate, in 64-bit.
double updateInterval(std::int32_t settingsUpdateFrequency);
