#include "Classes/SampleConditioning.h"

#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kSampleCount = 4096;
constexpr double kNoiseAmplitude = 0.05; // g, roughly a hand-held device at rest
constexpr std::uint32_t kSeed = 20240601u;

// A device lying face up, with a little noise so every branch sees varied values.
const std::vector<platform::Acceleration>& restingSamples() {
    static const std::vector<platform::Acceleration> samples = [] {
        std::mt19937 generator(kSeed);
        std::uniform_real_distribution<double> noise(-kNoiseAmplitude, kNoiseAmplitude);
        std::vector<platform::Acceleration> generated(kSampleCount);
        for (platform::Acceleration& s : generated) {
            s = {noise(generator), noise(generator), -1.0 + noise(generator)};
        }
        return generated;
    }();
    return samples;
}

void conditionSamples(benchmark::State& state) {
    const std::int32_t filter = static_cast<std::int32_t>(state.range(0));
    const std::int32_t axis = static_cast<std::int32_t>(state.range(1));
    const std::int32_t scale = static_cast<std::int32_t>(state.range(2));
    const std::vector<platform::Acceleration>& samples = restingSamples();
    std::array<double, 3> lastAcceleration{};
    std::array<double, 3> filterState{};
    for (auto _ : state) {
        for (const platform::Acceleration& sample : samples) {
            float value = conditionSample(sample, lastAcceleration, filterState, filter, axis, scale);
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(samples.size()));
}

BENCHMARK(conditionSamples)->ArgsProduct({{0, 1}, {0, 1, 2}, {0, 1}})->ArgNames({"filter", "axis", "scale"});

} // namespace
