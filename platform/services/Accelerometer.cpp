#include "platform/services/Accelerometer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace platform {

namespace {

// Half the largest float: the difference of two components within it, and the high-pass filter's
// memory fed with such differences, stay finite in the single precision the signal path uses.
constexpr double kLargestComponent = static_cast<double>(std::numeric_limits<float>::max()) / 2.0;

// Why `sample` cannot be delivered, e.g. "z = 1e+39 is beyond any acceleration"; empty when it can.
std::string refusalReason(const Acceleration& sample) {
    const std::array<std::pair<const char*, double>, 3> components{
        {{"x", sample.x}, {"y", sample.y}, {"z", sample.z}}};
    for (const auto& [axis, value] : components) {
        if (std::isnan(value)) {
            return std::string(axis) + " is not a number";
        }
        if (!(std::fabs(value) <= kLargestComponent)) {
            char text[64];
            std::snprintf(text, sizeof text, "%s = %g is beyond any acceleration", axis, value);
            return text;
        }
    }
    return {};
}

// Tick indices stay far below this; it only keeps a float-to-integer conversion defined.
constexpr double kLargestTick = 9.0e15;

} // namespace

Accelerometer& Accelerometer::sharedAccelerometer() {
    static Accelerometer shared;
    return shared;
}

void Accelerometer::setUpdateInterval(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        return;
    }
    if (started_) {
        origin_ = tickTime(nextTick_ - 1);
        nextTick_ = 1;
    }
    interval_ = std::max(seconds, kMinimumUpdateInterval);
}

double Accelerometer::updateInterval() const {
    return interval_ > 0.0 ? interval_ : kDefaultUpdateInterval;
}

void Accelerometer::setDelegate(AccelerometerDelegate* delegate) {
    delegate_ = delegate;
}

void Accelerometer::setSource(std::unique_ptr<SampleSource> source) {
    source_ = std::move(source);
}

void Accelerometer::addListener(SampleListener& listener) {
    listeners_.push_back(&listener);
}

void Accelerometer::removeListener(SampleListener& listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), &listener), listeners_.end());
}

void Accelerometer::start(double now) {
    if (!std::isfinite(now)) {
        return;
    }
    started_ = true;
    origin_ = now;
    nextTick_ = 1;
}

std::optional<double> Accelerometer::nextTickTime() const {
    if (!started_ || delegate_ == nullptr || source_ == nullptr || source_->isExhausted()) {
        return std::nullopt;
    }
    return tickTime(nextTick_);
}

int Accelerometer::awaitedFd(double now) const {
    const std::optional<double> tick = nextTickTime();
    return tick && *tick <= now && source_->awaitsInput() ? source_->readyFd() : -1;
}

double Accelerometer::tickTime(std::uint64_t tick) const {
    return origin_ + static_cast<double>(tick) * updateInterval();
}

std::uint64_t Accelerometer::firstTickAfter(double now) const {
    const double elapsed = std::floor((now - origin_) / updateInterval());
    if (!(elapsed >= 0.0)) {
        return nextTick_;
    }
    std::uint64_t tick = static_cast<std::uint64_t>(std::min(elapsed, kLargestTick)) + 1;
    // The division may round either way; a step or two settles it.
    for (int step = 0; step < 4 && tickTime(tick) <= now; ++step) {
        ++tick;
    }
    for (int step = 0; step < 4 && tick > nextTick_ && tickTime(tick - 1) > now; ++step) {
        --tick;
    }
    return std::max(tick, nextTick_);
}

void Accelerometer::deliverDueSamples(double now) {
    if (!started_ || !std::isfinite(now)) {
        return;
    }
    const std::uint64_t catchUpLimit =
        std::max<std::uint64_t>(1, static_cast<std::uint64_t>(kMaxCatchUpSeconds / updateInterval()));
    std::uint64_t ticksThisCall = 0;
    // The delegate may change anything here (interval, delegate, source), so every pass re-reads it.
    while (tickTime(nextTick_) <= now) {
        if (delegate_ == nullptr || source_ == nullptr) {
            nextTick_ = firstTickAfter(now); // nobody to deliver to: the ticks pass unasked
            return;
        }
        if (source_->isExhausted() || source_->awaitsInput()) {
            return;
        }
        if (ticksThisCall == catchUpLimit) {
            const std::uint64_t resume = firstTickAfter(now);
            missed_ += resume - nextTick_;
            nextTick_ = resume;
            return;
        }
        const double time = tickTime(nextTick_);
        ++nextTick_;
        ++ticksThisCall;

        const std::optional<Acceleration> sample = source_->nextSample(time);
        if (!sample) {
            continue;
        }
        if (std::string reason = refusalReason(*sample); !reason.empty()) {
            if (refused_++ == 0) {
                firstRefusal_ = std::move(reason);
            }
            continue;
        }
        ++delivered_;
        recorded_.reset();
        delegate_->accelerometerDidAccelerate(*this, *sample);
        const DeliveredSample outcome{time, *sample, recorded_};
        for (SampleListener* listener : listeners_) {
            listener->sampleDelivered(outcome);
        }
    }
}

std::optional<std::string> Accelerometer::refusalMessage() const {
    if (refused_ == 0) {
        return std::nullopt;
    }
    return "trembit: " + std::to_string(refused_) + (refused_ == 1 ? " sample" : " samples") +
           " refused (the first: " + firstRefusal_ + ")";
}

} // namespace platform
