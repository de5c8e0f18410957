#pragma once

#include "platform/services/Acceleration.h"
#include "platform/services/SampleSource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Accelerometer;

/// Receives the accelerometer's samples, on the main thread, one call per tick.
class AccelerometerDelegate {
public:
    virtual ~AccelerometerDelegate() = default;
    /// A delegate that sends the sample on to a recorder tells the accelerometer what it sent, with
    /// sampleRecorded(), before it returns.
    virtual void accelerometerDidAccelerate(Accelerometer& accelerometer,
                                            const Acceleration& acceleration) = 0;
};

/// What became of one delivered sample.
struct DeliveredSample {
    double time = 0.0;               ///< the tick's time, in seconds on the application clock
    Acceleration sample;             ///< as the delegate received it, in g
    std::optional<float> deflection; ///< what the delegate sent to its recorder; none when it let
                                     ///< the sample pass (recording paused)
};

/// Hears, once per delivered sample and after the delegate has had it, what became of it: the run's
/// record file and the window's readings.
class SampleListener {
public:
    virtual ~SampleListener() = default;
    virtual void sampleDelivered(const DeliveredSample& delivered) = 0;
};

/// Delivers samples from its source to its delegate at a fixed update interval.
///
/// Time is pushed in: the main loop calls start() once and then deliverDueSamples() whenever it wakes,
/// waiting in between until nextTickTime(). Tick k (k = 1, 2, ...) is due at start + k * interval,
/// computed by multiplication so that the grid never drifts however long the program runs. All times
/// are seconds on the application clock.
///
/// Every tick is delivered in order, even when the main loop reaches it late; ticks are never merged
/// or dropped, except after a stall longer than kMaxCatchUpSeconds (a suspended machine), where the
/// ticks beyond that much catch-up are skipped and counted as missed so that the program stays
/// responsive.
///
/// A sample with a component that is not a number, or whose magnitude passes half the largest
/// single-precision float (infinities included), is refused here and counted: it never reaches the
/// delegate. The delegate's signal path keeps a running filter memory in single-precision steps, which
/// one NaN or one overflow to infinity would poison for the rest of the run; below that bound every
/// difference and filter value stays finite.
class Accelerometer {
public:
    /// The interval used until setUpdateInterval is called: 40 samples per second.
    static constexpr double kDefaultUpdateInterval = 1.0 / 40.0;
    /// Shorter intervals are raised to this (seconds): no source here runs faster, and a vanishing
    /// interval would make a single catch-up endless.
    static constexpr double kMinimumUpdateInterval = 0.001;
    /// The most a single deliverDueSamples call catches up, in seconds of ticks.
    static constexpr double kMaxCatchUpSeconds = 10.0;

    /// The accelerometer the application uses; it lives until the process exits.
    static Accelerometer& sharedAccelerometer();

    Accelerometer() = default;
    Accelerometer(const Accelerometer&) = delete;
    Accelerometer& operator=(const Accelerometer&) = delete;

    /// Seconds between samples. Non-finite or non-positive values are ignored. Once started, the tick
    /// grid restarts at the last tick delivered (or at the start, if none), so no tick is repeated.
    void setUpdateInterval(double seconds);
    /// The interval in effect, in seconds: kDefaultUpdateInterval until one is set.
    double updateInterval() const;

    /// Not owned; it must outlive its time as delegate. With none, due ticks pass without polling the
    /// source (so a file loses no lines) and without counting as missed.
    void setDelegate(AccelerometerDelegate* delegate);
    AccelerometerDelegate* delegate() const { return delegate_; }

    /// Takes ownership of the source, destroying the previous one.
    void setSource(std::unique_ptr<SampleSource> source);
    /// Still owned by the accelerometer; null when there is none.
    SampleSource* source() const { return source_.get(); }

    /// Listeners hear every sample the delegate received, in the order they were added; refused
    /// samples are not heard. Not owned: a listener must be removed before it goes.
    void addListener(SampleListener& listener);
    void removeListener(SampleListener& listener);
    /// Called by the delegate, while it handles a sample, with the deflection it sent to its
    /// recorder; the listeners hear it with the sample.
    void sampleRecorded(float deflection) { recorded_ = deflection; }

    /// Starts (or restarts) the tick grid at `now`: the first tick is due one interval later.
    void start(double now);
    /// When the next tick is due; none when not started, with no delegate or source, or once the source
    /// is exhausted, so the main loop knows it need not wake for samples.
    std::optional<double> nextTickTime() const;
    /// The source's descriptor to wait on while it holds a due tick back (see
    /// SampleSource::awaitsInput), else -1. Only then does the clock wait for the source.
    int awaitedFd(double now) const;
    /// Delivers, in order, every tick due at or before `now` (see the class comment).
    void deliverDueSamples(double now);

    std::uint64_t deliveredCount() const { return delivered_; }
    std::uint64_t refusedCount() const { return refused_; }
    /// What to say about refused samples, without a line break: "trembit: 12 samples refused (the
    /// first: z = 1e+39 is beyond any acceleration)", or "(the first: x is not a number)"; none
    /// while nothing was refused.
    std::optional<std::string> refusalMessage() const;
    std::uint64_t missedTicks() const { return missed_; }

private:
    double tickTime(std::uint64_t tick) const;
    // The first tick after `now`, never one before nextTick_.
    std::uint64_t firstTickAfter(double now) const;

    double interval_ = 0.0; // 0 until set
    AccelerometerDelegate* delegate_ = nullptr;
    std::unique_ptr<SampleSource> source_;
    std::vector<SampleListener*> listeners_;
    std::optional<float> recorded_; // set by the delegate during one delivery
    bool started_ = false;
    double origin_ = 0.0;        // the time of tick 0
    std::uint64_t nextTick_ = 1; // the index of the next tick to deliver
    std::uint64_t delivered_ = 0;
    std::uint64_t refused_ = 0;
    std::string firstRefusal_; // why the first refused sample was refused
    std::uint64_t missed_ = 0;
};

} // namespace platform
