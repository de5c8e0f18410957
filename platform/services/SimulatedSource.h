#pragma once

#include "platform/services/SampleSource.h"

#include <array>
#include <cstdint>

namespace platform {

/// A device lying on a table: (0, 0, -1) g with a little sensor noise, struck now and then by a tap (a
/// sharp ring that dies away within about 0.3 s) or shaken by a burst of vibration lasting 1 to 3 s.
///
/// The sample is a pure function of the seed and of the time asked for, so a run replays exactly from
/// its seed whatever the frame timing was. The random numbers come from std::mt19937_64 and a fixed
/// hash, shaped by our own distributions, because std's distributions may differ between library
/// versions.
class SimulatedSource final : public SampleSource {
public:
    /// The device at rest, in g.
    static constexpr double kRestZ = -1.0;
    /// Standard deviation of the sensor noise on each axis, in g.
    static constexpr double kNoiseDeviation = 0.004;

    explicit SimulatedSource(std::uint64_t seed);

    /// The sample at `now` (seconds); none for a time that is not finite.
    std::optional<Acceleration> nextSample(double now) override;
    std::string description() const override { return "sim"; }

private:
    // What disturbs the rest position: at most one tap or burst begins in each second of time.
    struct Event {
        enum class Kind { None, Tap, Burst };
        Kind kind = Kind::None;
        double start = 0.0;                // seconds
        double duration = 0.0;             // seconds; the event adds nothing outside it
        double amplitude = 0.0;            // g
        double frequency = 0.0;            // Hz
        double decay = 0.0;                // seconds, the time constant of a tap's ring
        std::array<double, 3> direction{}; // unit vector of the shaking, x, y, z
        std::array<double, 3> phase{};     // radians per axis, so a burst is not a straight-line shake
    };
    struct CachedSlot {
        std::int64_t slot = 0;
        bool valid = false;
        Event event;
    };

    static Event makeEvent(std::uint64_t seed, std::int64_t slot);
    static std::array<double, 3> displacement(const Event& event, double time);
    std::array<double, 3> noise(double time) const;
    const Event& eventInSlot(std::int64_t slot);

    std::uint64_t seed_;
    // The events of recently asked slots. Every sample looks at a few slots and deriving one seeds a
    // generator, so they are kept; the cache changes no result.
    std::array<CachedSlot, 8> cache_{};
};

} // namespace platform
