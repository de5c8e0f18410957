#include "platform/app/EventCapture.h"

#include "platform/app/JsonWriter.h"

#include <cmath>

namespace platform {

namespace {

// Tick times are multiples of the update interval, so a difference of whole seconds can come out a
// hair short of them; this much short still counts.
constexpr double kTimeSlack = 1e-9;

} // namespace

EventCapture::EventCapture(const EventRule& rule, EventSink& sink) : rule_(rule), sink_(sink) {}

void EventCapture::sampleDelivered(const DeliveredSample& delivered) {
    forgetBefore(delivered.time);
    if (!delivered.deflection) {
        if (open_) {
            end(Event::Ending::Pause);
        }
        afterGap_ = true;
    } else {
        const float magnitude = std::fabs(*delivered.deflection);
        const bool over = magnitude >= rule_.level;
        if (open_ && delivered.time - open_->event.start >= kLongestSeconds - kTimeSlack) {
            // The pieces of a long event follow one another without overlapping, so that together
            // they hold each sample once.
            const double lastOver = open_->lastOver;
            end(Event::Ending::Cut);
            start(delivered, false);
            open_->lastOver = lastOver;
            open_->event.continues = true;
        } else if (!open_ && over && !afterGap_) {
            start(delivered, true);
        }
        if (open_) {
            add(delivered, magnitude);
            if (over) {
                open_->lastOver = delivered.time;
            } else if (delivered.time - open_->lastOver >= rule_.holdSeconds - kTimeSlack) {
                end(Event::Ending::Quiet);
            }
        }
        afterGap_ = false;
    }
    before_.push_back(delivered);
}

void EventCapture::forgetBefore(double time) {
    while (!before_.empty() && before_.front().time < time - rule_.preSeconds - kTimeSlack) {
        before_.pop_front();
    }
}

void EventCapture::start(const DeliveredSample& delivered, bool withPre) {
    open_ = Open{};
    Event& event = open_->event;
    event.start = delivered.time;
    open_->lastOver = delivered.time;
    if (withPre) {
        event.samples.assign(before_.begin(), before_.end());
    }
}

void EventCapture::add(const DeliveredSample& delivered, float magnitude) {
    Open& open = *open_;
    open.event.samples.push_back(delivered);
    open.event.end = delivered.time;
    open.sumOfSquares += static_cast<double>(magnitude) * static_cast<double>(magnitude);
    ++open.recorded;
    if (magnitude > open.event.peak || open.recorded == 1) {
        open.event.peak = magnitude;
        open.pictureCountdown = kPictureDelay;
    } else if (open.pictureCountdown > 0) {
        --open.pictureCountdown;
    }
}

void EventCapture::end(Event::Ending ending) {
    Open open = std::move(*open_);
    open_.reset();
    Event& event = open.event;
    event.ending = ending;
    event.rms = std::sqrt(open.sumOfSquares / static_cast<double>(open.recorded));
    ++count_;
    last_ = Summary{event.start, event.end, event.peak};
    // A picture taken before a later, larger peak shows the wrong one: the end's frame is nearer.
    if (open.pictureCountdown >= 0 || !event.picture) {
        awaitingPicture_.push_back(std::move(event));
    } else {
        sink_.eventEnded(std::move(event));
    }
}

bool EventCapture::wantsPicture() const {
    return !awaitingPicture_.empty() || (open_ && open_->pictureCountdown == 0);
}

void EventCapture::takePicture(const CairoSurfacePtr& picture) {
    const auto share = [&] {
        return CairoSurfacePtr(picture ? cairo_surface_reference(picture.get()) : nullptr);
    };
    if (open_ && open_->pictureCountdown == 0) {
        open_->event.picture = share();
        open_->pictureCountdown = -1;
    }
    for (Event& event : awaitingPicture_) {
        event.picture = share();
        sink_.eventEnded(std::move(event));
    }
    awaitingPicture_.clear();
}

void EventCapture::finish() {
    if (open_) {
        end(Event::Ending::Exit);
    }
}

void EventCapture::writeState(JsonWriter& json) const {
    json.beginObject("events");
    json.integer("count", static_cast<long long>(count_));
    if (last_) {
        json.number("start", last_->start, "%.3f");
        json.number("end", last_->end, "%.3f");
        json.number("peak", static_cast<double>(last_->peak), "%.9g");
    }
    json.endObject();
}

} // namespace platform
