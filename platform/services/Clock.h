#pragma once

#include <chrono>

namespace platform {

/// Time as the application sees it, in seconds since launch. The main loop pushes time in: a
/// window runs on the steady clock, the headless backend on a virtual clock that tests and
/// scripts advance by hand, so nothing in the platform sleeps or reads the wall clock itself.
class Clock {
public:
    virtual ~Clock() = default;
    /// Seconds since launch, never decreasing.
    virtual double now() const = 0;
};

/// A clock that moves only when told to.
class VirtualClock final : public Clock {
public:
    double now() const override { return now_; }
    /// Moves time forward to `seconds`; earlier times are ignored.
    void advanceTo(double seconds) {
        if (seconds > now_) {
            now_ = seconds;
        }
    }

private:
    double now_ = 0.0;
};

/// The machine's monotonic clock, counted from the clock's creation.
class SteadyClock final : public Clock {
public:
    double now() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace platform
