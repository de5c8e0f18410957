#include "platform/app/RunLoop.h"

#include "platform/app/Application.h"
#include "platform/app/ApplicationDelegate.h"
#include "platform/app/JsonWriter.h"
#include "platform/backend/Backend.h"
#include "platform/gfx/PngWriter.h"
#include "platform/services/OutputFile.h"
#include "platform/services/StopRequest.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace platform {

namespace {

constexpr Size kWindowSize{320.0f, 480.0f};
constexpr double kFrameInterval = 1.0 / 60.0;
constexpr double kIdleTickBatch = 0.25;
constexpr double kForever = Backend::kForever;

// Refused samples are said at most this often while someone watches (real seconds).
constexpr double kRefusalReportInterval = 60.0;

} // namespace

RunLoop::RunLoop(Backend& backend, Application& application, Window& window, ApplicationDelegate& delegate,
                 const Pointer::Objects& objects)
    : backend_(backend), application_(application), window_(window), delegate_(delegate),
      accelerometer_(Accelerometer::sharedAccelerometer()), compositor_(kWindowSize, backend.scale()),
      router_(window), pointer_(window, router_, objects), endTime_(kForever), lastDisplay_(-kForever) {
    accelerometer_.addListener(*this);
    accelerometer_.addListener(readings_);
    backend_.setTitleSource([this](double now) {
        if (std::optional<std::string> notice = pictures_.notice(now)) {
            return *notice;
        }
        return events_ ? readings_.title(now, events_->count(), eventWriter_->failing())
                       : readings_.title(now);
    });
}

RunLoop::~RunLoop() {
    accelerometer_.removeListener(*this);
    accelerometer_.removeListener(readings_);
    if (record_) {
        accelerometer_.removeListener(*record_);
    }
    if (events_) {
        accelerometer_.removeListener(*events_);
    }
    backend_.setTitleSource(nullptr);
}

void RunLoop::setScript(std::vector<ScriptStep> steps, std::string name) {
    RunOutputs& outputs = *this;
    script_.emplace(std::move(steps), std::move(name), pointer_, outputs);
}

void RunLoop::record(const std::filesystem::path& path) {
    record_.emplace(path,
                    backend_.realTime() ? RecordFile::Flushing::EveryRow : RecordFile::Flushing::WhenFull);
    accelerometer_.addListener(*record_);
}

void RunLoop::watchEvents(const EventRule& rule, const std::filesystem::path& folder, bool localTime) {
    eventWriter_.emplace(folder, localTime, !backend_.realTime());
    events_.emplace(rule, *eventWriter_);
    accelerometer_.addListener(*events_);
}

double RunLoop::now() const {
    return backend_.clock().now();
}

void RunLoop::sampleDelivered(const DeliveredSample& delivered) {
    lastDelivery_ = delivered.time;
    recordedSinceWake_ = recordedSinceWake_ || delivered.deflection.has_value();
}

void RunLoop::run(std::optional<double> duration) {
    backend_.startClock();
    if (eventWriter_) {
        eventWriter_->setLaunchTime(std::chrono::system_clock::now());
    }
    accelerometer_.start(now());
    endTime_ = duration.value_or(kForever);

    while (!quit_ && !stop::requested()) {
        const int awaited = accelerometer_.awaitedFd(now());
        const std::vector<InputEvent> events =
            backend_.wait(awaited >= 0 ? kForever : nextEventTime(), awaited);
        if (stop::requested() || now() >= endTime_) {
            break;
        }
        const std::uint64_t delivered = accelerometer_.deliveredCount();
        recordedSinceWake_ = false;
        accelerometer_.deliverDueSamples(now());
        if (accelerometer_.deliveredCount() != delivered) {
            idle_ = !recordedSinceWake_;
            lastTickWake_ = now();
        }
        if (events_ && events_->wantsPicture()) {
            events_->takePicture(eventPicture());
        }
        sayRefusals(false);
        const SampleSource* source = accelerometer_.source();
        if (backend_.endsWithInput() && source != nullptr && source->isExhausted()) {
            endTime_ = std::min(endTime_, (lastDelivery_ >= 0.0 ? lastDelivery_ : now()) +
                                              accelerometer_.updateInterval());
        }
        application_.animator().advance();
        handle(events);
        const ScriptRunner::Progress script = script_ ? script_->run(now()) : ScriptRunner::Progress::Waiting;
        quit_ = quit_ || script == ScriptRunner::Progress::Over;
        if (!events.empty() || script == ScriptRunner::Progress::Acted) {
            idle_ = false; // a press may resume recording: be on time for the next sample
        }
        display();
    }
}

double RunLoop::nextEventTime() const {
    const double t = now();
    double next = endTime_;
    if (const std::optional<double> tick = accelerometer_.nextTickTime()) {
        const bool batched = backend_.realTime() && idle_;
        next = std::min(next, batched ? std::max(*tick, lastTickWake_ + kIdleTickBatch) : *tick);
    }
    if (script_) {
        if (const std::optional<double> step = script_->nextTime(t)) {
            next = std::min(next, *step);
        }
    }
    // Frames follow the animations on every clock, so a page turn ends on time; other changes are
    // shown only where someone can watch.
    if (application_.animator().nextFrameTime() || (backend_.realTime() && window_.hasChanges())) {
        next = std::min(next, std::max(t, lastDisplay_ + kFrameInterval));
    }
    return next;
}

void RunLoop::handle(const std::vector<InputEvent>& events) {
    for (const InputEvent& event : events) {
        if (pointer_.handle(event)) {
            continue;
        }
        if (event.kind == InputEvent::Kind::Expose && lastDisplay_ > -kForever) {
            // Composed again, not only shown again: after a resize the window's pixels are new.
            render();
            backend_.present();
        }
        quit_ = quit_ || event.kind == InputEvent::Kind::Quit || event.key == InputEvent::Key::CtrlQ;
        if (event.kind == InputEvent::Kind::Key && event.key == InputEvent::Key::CtrlS) {
            saveWindowPicture();
        }
    }
}

void RunLoop::sayRefusals(bool atEnd) {
    const std::uint64_t refused = accelerometer_.refusedCount();
    if (refused == refusalsSaid_ && !(atEnd && refused > 0)) {
        return;
    }
    // While paced, at most once a minute of real time; a fast run says them once, at its end.
    const double real =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - refusalsSaidAt_).count();
    if (atEnd || (backend_.realTime() && real >= kRefusalReportInterval)) {
        if (const std::optional<std::string> message = accelerometer_.refusalMessage()) {
            std::fprintf(stderr, "%s\n", message->c_str());
        }
        refusalsSaid_ = refused;
        refusalsSaidAt_ = std::chrono::steady_clock::now();
    }
}

void RunLoop::saveWindowPicture() {
    pictures_.save(
        [this] {
            render();
            return encodePng(compositor_.surface());
        },
        SavedPictures::folder(), std::time(nullptr), now());
}

void RunLoop::render() {
    cairo_surface_t* frame = backend_.frameSurface();
    if (!compositor_.hasTarget() || frame != compositor_.surface()) {
        compositor_.setTarget(CairoSurfacePtr(cairo_surface_reference(frame)));
    }
    compositor_.render(window_, &application_.animator());
    lastDisplay_ = now();
}

CairoSurfacePtr RunLoop::eventPicture() {
    try {
        cairo_surface_t* frame = backend_.frameSurface();
        if (!backend_.realTime() || lastDisplay_ == -kForever || frame != compositor_.surface()) {
            // A fast run's page turn steps by the frames it would have shown; this one, composed
            // for the picture alone, must not move them.
            const double shown = lastDisplay_;
            render();
            lastDisplay_ = backend_.realTime() ? lastDisplay_ : shown;
            frame = compositor_.surface();
        }
        return copyImageSurface(frame, eventWriter_->sparePicture());
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "trembit: no picture of the event: %s\n", error.what());
        return nullptr;
    }
}

void RunLoop::display() {
    const double t = now();
    if (t < lastDisplay_ + kFrameInterval) {
        return;
    }
    if (backend_.realTime() && window_.hasChanges()) {
        render();
        backend_.present();
    } else if (application_.animator().nextFrameTime()) {
        lastDisplay_ = t; // the page turn advances without pictures nobody sees
    }
}

std::optional<std::string> RunLoop::writeScreenshot(const std::filesystem::path& path) {
    try {
        render();
        compositor_.writePng(path);
        return std::nullopt;
    } catch (const std::runtime_error& error) {
        return error.what();
    }
}

std::optional<std::string> RunLoop::writeState(const std::filesystem::path& path) {
    JsonWriter json;
    json.beginObject();
    delegate_.writeState(json);
    if (events_) {
        events_->writeState(json);
    }
    json.endObject();
    try {
        writeOutputFile(path, json.str() + "\n");
        return std::nullopt;
    } catch (const OutputError& error) {
        return error.what();
    }
}

int RunLoop::finish(const std::optional<std::filesystem::path>& screenshot,
                    const std::optional<std::filesystem::path>& dumpState) {
    if (SampleSource* source = accelerometer_.source()) {
        source->finish();
    }
    sayRefusals(true);
    bool written = !record_ || record_->finish();
    if (events_) {
        events_->finish();
        if (events_->wantsPicture()) {
            events_->takePicture(eventPicture());
        }
        written = eventWriter_->finish() && written;
    }
    written = (!script_ || script_->succeeded()) && written;
    for (const auto& [path, write] :
         {std::pair{screenshot, &RunLoop::writeScreenshot}, std::pair{dumpState, &RunLoop::writeState}}) {
        if (path) {
            if (const std::optional<std::string> problem = (this->*write)(*path)) {
                std::fprintf(stderr, "trembit: %s\n", problem->c_str());
                written = false;
            }
        }
    }
    return written ? 0 : 1;
}

} // namespace platform
