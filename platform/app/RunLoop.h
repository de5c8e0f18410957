#pragma once

#include "platform/app/EventCapture.h"
#include "platform/app/EventWriter.h"
#include "platform/app/Pointer.h"
#include "platform/app/Readings.h"
#include "platform/app/RecordFile.h"
#include "platform/app/SavedPictures.h"
#include "platform/app/ScriptRunner.h"
#include "platform/services/Accelerometer.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/TouchRouter.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class Application;
class ApplicationDelegate;
class Backend;
class Window;
struct InputEvent;

/// The main loop of one run: it waits on its backend for whatever is due next (a sample, a script
/// step, a frame, the end), delivers the due samples, hands input to the views, plays the script
/// and composes frames as the views change. It hears every delivered sample once, through the
/// accelerometer's push, and so do the title's readings and the record file.
class RunLoop final : public SampleListener, private RunOutputs {
public:
    /// Everything is borrowed and must outlive the loop. `objects` are the interface file's, where
    /// scripts find the controls.
    RunLoop(Backend& backend, Application& application, Window& window, ApplicationDelegate& delegate,
            const Pointer::Objects& objects);
    ~RunLoop() override;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    /// Plays `steps` from the file `name` on the run's clock; the run ends with its last step.
    void setScript(std::vector<ScriptStep> steps, std::string name);
    /// Writes every delivered sample to `path` from now on. Throws std::runtime_error naming the
    /// file when it cannot be made.
    void record(const std::filesystem::path& path);
    /// Keeps events by `rule` in `folder` from now on (see EventCapture and EventWriter), named by
    /// the wall clock when `localTime`, else by seconds since launch.
    void watchEvents(const EventRule& rule, const std::filesystem::path& folder, bool localTime);

    /// Runs from time 0 until a quit, a stop request, `duration` seconds or, where the backend
    /// ends with its input, one update interval after the source's last sample.
    void run(std::optional<double> duration);

    /// Ends the run: the source's report, the record file closed, and the screenshot and state
    /// written where asked. Every output that can be written is, and each failure is said. Returns
    /// the exit status: 0, or 1 when an output of the run could not be written.
    int finish(const std::optional<std::filesystem::path>& screenshot,
               const std::optional<std::filesystem::path>& dumpState);

    void sampleDelivered(const DeliveredSample& delivered) override;

private:
    std::optional<std::string> writeScreenshot(const std::filesystem::path& path) override;
    std::optional<std::string> writeState(const std::filesystem::path& path) override;

    double now() const;
    // The earliest moment something is due: a sample, a script step, a frame, or the end.
    double nextEventTime() const;
    void handle(const std::vector<InputEvent>& events);
    void saveWindowPicture();
    // Says how many samples were refused and why: at the end, and while paced at most once a minute.
    void sayRefusals(bool atEnd);
    // Composes a frame into the backend's surface.
    void render();
    // A copy of the frame on screen for an event's picture: the one already composed where frames
    // are shown, else one composed now. Null when none can be had.
    CairoSurfacePtr eventPicture();
    // A frame when something changed and one is due, shown where someone can watch.
    void display();

    Backend& backend_;
    Application& application_;
    Window& window_;
    ApplicationDelegate& delegate_;
    Accelerometer& accelerometer_;
    Compositor compositor_;
    TouchRouter router_;
    Pointer pointer_;
    Readings readings_;
    SavedPictures pictures_;
    std::optional<RecordFile> record_;
    std::optional<ScriptRunner> script_;
    std::optional<EventWriter> eventWriter_; // before the capture, which hands it events
    std::optional<EventCapture> events_;

    double endTime_;
    double lastDisplay_;
    double lastDelivery_ = -1.0;
    // While the samples delivered are all let pass (paused, settings page), nothing shows them: the
    // loop wakes for them a few times a second, in order, and sleeps in between.
    bool idle_ = false;
    bool recordedSinceWake_ = false;
    double lastTickWake_ = 0.0;
    bool quit_ = false;
    std::uint64_t refusalsSaid_ = 0;
    // The first refusal is said at once: a minute of silence would hide a device that never works.
    std::chrono::steady_clock::time_point refusalsSaidAt_{};
};

} // namespace platform
