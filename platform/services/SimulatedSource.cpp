#include "platform/services/SimulatedSource.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <random>

namespace platform {

namespace {

constexpr double kSlotSeconds = 1.0;
constexpr double kEventChancePerSlot = 0.25; // one event every 4 s on average
constexpr double kTapChance = 0.6;           // of events; the rest are bursts

constexpr double kTapMinAmplitude = 0.3;   // g
constexpr double kTapMaxAmplitude = 1.2;   // g
constexpr double kTapMinFrequency = 15.0;  // Hz
constexpr double kTapMaxFrequency = 40.0;  // Hz
constexpr double kTapMinDecay = 0.06;      // s; after 0.3 s at most e^-3 of the ring is left
constexpr double kTapMaxDecay = 0.1;       // s
constexpr double kTapLengthInDecays = 8.0; // cut off below 0.04 % of the amplitude

constexpr double kBurstMinAmplitude = 0.05; // g
constexpr double kBurstMaxAmplitude = 0.2;  // g
constexpr double kBurstMinFrequency = 20.0; // Hz
constexpr double kBurstMaxFrequency = 60.0; // Hz
constexpr double kBurstMinSeconds = 1.0;
constexpr double kBurstMaxSeconds = 3.0;
constexpr double kBurstFadeSeconds = 0.1; // the shaking swells and fades rather than switching

// Every event ends within this many slots after the one it starts in.
constexpr std::int64_t kSlotsLookedBack = 3;
static_assert(kBurstMaxSeconds <= kSlotsLookedBack * kSlotSeconds);
static_assert(kTapMaxDecay * kTapLengthInDecays <= kSlotsLookedBack * kSlotSeconds);

constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::uint64_t splitMix(std::uint64_t value) {
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

// Uniform in [0, 1), from the top 53 bits.
double unit(std::uint64_t bits) {
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

double between(std::mt19937_64& generator, double low, double high) {
    return low + (high - low) * unit(generator());
}

std::array<double, 3> randomDirection(std::mt19937_64& generator) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::array<double, 3> v = {between(generator, -1.0, 1.0), between(generator, -1.0, 1.0),
                                         between(generator, -1.0, 1.0)};
        const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (length > 0.1 && length <= 1.0) { // inside the unit ball, so every direction is as likely
            return {v[0] / length, v[1] / length, v[2] / length};
        }
    }
    return {0.0, 0.0, 1.0};
}

} // namespace

SimulatedSource::SimulatedSource(std::uint64_t seed) : seed_(seed) {}

SimulatedSource::Event SimulatedSource::makeEvent(std::uint64_t seed, std::int64_t slot) {
    std::mt19937_64 generator(splitMix(seed ^ splitMix(static_cast<std::uint64_t>(slot))));
    Event event;
    if (unit(generator()) >= kEventChancePerSlot) {
        return event;
    }
    event.start = (static_cast<double>(slot) + unit(generator())) * kSlotSeconds;
    event.direction = randomDirection(generator);
    if (unit(generator()) < kTapChance) {
        event.kind = Event::Kind::Tap;
        event.amplitude = between(generator, kTapMinAmplitude, kTapMaxAmplitude);
        event.frequency = between(generator, kTapMinFrequency, kTapMaxFrequency);
        event.decay = between(generator, kTapMinDecay, kTapMaxDecay);
        event.duration = event.decay * kTapLengthInDecays;
    } else {
        event.kind = Event::Kind::Burst;
        event.amplitude = between(generator, kBurstMinAmplitude, kBurstMaxAmplitude);
        event.frequency = between(generator, kBurstMinFrequency, kBurstMaxFrequency);
        event.duration = between(generator, kBurstMinSeconds, kBurstMaxSeconds);
        for (double& phase : event.phase) {
            phase = between(generator, 0.0, kTwoPi);
        }
    }
    return event;
}

std::array<double, 3> SimulatedSource::displacement(const Event& event, double time) {
    const double age = time - event.start;
    if (event.kind == Event::Kind::None || age < 0.0 || age >= event.duration) {
        return {};
    }
    double envelope = 1.0;
    if (event.kind == Event::Kind::Tap) {
        envelope = std::exp(-age / event.decay);
    } else {
        const double edge = std::min(age, event.duration - age);
        if (edge < kBurstFadeSeconds) {
            const double s = std::sin(0.5 * std::numbers::pi * edge / kBurstFadeSeconds);
            envelope = s * s;
        }
    }
    std::array<double, 3> result{};
    for (std::size_t axis = 0; axis < result.size(); ++axis) {
        result[axis] = event.amplitude * envelope * event.direction[axis] *
                       std::sin(kTwoPi * event.frequency * age + event.phase[axis]);
    }
    return result;
}

// A hash of the time rather than a running stream, so the noise at a tick does not depend on which
// ticks were asked before it. Each axis sums four uniforms (Irwin-Hall): bell-shaped, bounded, and the
// same everywhere.
std::array<double, 3> SimulatedSource::noise(double time) const {
    constexpr double kSumDeviation = 0.57735026918962576; // sqrt(4 / 12), of a sum of four uniforms
    std::uint64_t state = splitMix(seed_ ^ 0x5851f42d4c957f2dULL) ^ std::bit_cast<std::uint64_t>(time + 0.0);
    std::array<double, 3> result{};
    for (double& value : result) {
        state = splitMix(state);
        double sum = 0.0;
        for (int part = 0; part < 4; ++part) {
            sum += (static_cast<double>((state >> (16 * part)) & 0xffffU) + 0.5) / 65536.0;
        }
        value = (sum - 2.0) / kSumDeviation * kNoiseDeviation;
    }
    return result;
}

const SimulatedSource::Event& SimulatedSource::eventInSlot(std::int64_t slot) {
    CachedSlot& entry = cache_[static_cast<std::uint64_t>(slot) % cache_.size()];
    if (!entry.valid || entry.slot != slot) {
        entry = CachedSlot{slot, true, makeEvent(seed_, slot)};
    }
    return entry.event;
}

std::optional<Acceleration> SimulatedSource::nextSample(double now) {
    // Far beyond any run's length the slot index would overflow; such a time is as wrong as NaN.
    constexpr double kLatestTime = 1.0e15;
    if (!std::isfinite(now) || std::fabs(now) > kLatestTime) {
        return std::nullopt;
    }
    std::array<double, 3> value = noise(now);
    value[2] += kRestZ;
    const auto current = static_cast<std::int64_t>(std::floor(now / kSlotSeconds));
    for (std::int64_t slot = current - kSlotsLookedBack; slot <= current; ++slot) {
        const std::array<double, 3> shake = displacement(eventInSlot(slot), now);
        for (std::size_t axis = 0; axis < value.size(); ++axis) {
            value[axis] += shake[axis];
        }
    }
    return Acceleration{value[0], value[1], value[2]};
}

} // namespace platform
