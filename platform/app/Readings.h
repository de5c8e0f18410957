#pragma once

#include "platform/services/Accelerometer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace platform {

/// What the window's title reports: the rate samples actually arrive at, over the last second, and
/// the largest deflection and the root mean square of the visible trace (the last 200 values
/// recorded).
class Readings final : public SampleListener {
public:
    static constexpr std::size_t kTraceLength = 200;

    Readings();

    void sampleDelivered(const DeliveredSample& delivered) override;

    /// The title at `now` (seconds on the run's clock), e.g. "Trembit — 40/s — peak 0.68 — rms 0.21".
    /// The readings are separated by an em dash where the locale can show one, else by a hyphen;
    /// the words are in the user's language, the numbers keep their decimal point.
    std::string title(double now);
    /// The same with the events caught so far, "— 3 events", and " (not saved)" while they cannot
    /// be written.
    std::string title(double now, std::uint64_t events, bool notSaved);

private:
    // Only the last second of deliveries counts; older ones are dropped as time goes on.
    void forgetBefore(double now);

    std::deque<double> times_;
    std::array<float, kTraceLength> trace_{};
    std::size_t next_ = 0;
    const char* dash_;
};

} // namespace platform
