#pragma once

#include "platform/gfx/CairoPtr.h"
#include "platform/services/Accelerometer.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace platform {

class JsonWriter;

/// When an event starts and ends. Times are seconds on the samples' own tick times.
struct EventRule {
    /// A recorded deflection whose magnitude reaches this starts an event (1 is the paper's edge).
    float level = 1.0f;
    /// The event ends once every recorded deflection has stayed below the level this long.
    double holdSeconds = 2.0;
    /// The event keeps the samples delivered this long before its start.
    double preSeconds = 2.0;
};

/// One event as it is handed on: its samples and, where one could be had, its picture.
struct Event {
    enum class Ending { Quiet, Pause, Cut, Exit };

    double start = 0.0; ///< the time of the sample that started it
    double end = 0.0;   ///< the time of its last sample
    float peak = 0.0f;  ///< the largest deflection magnitude from start to end
    double rms = 0.0;   ///< root mean square of the deflections from start to end
    Ending ending = Ending::Quiet;
    bool continues = false; ///< begins where an event cut at kLongestSeconds left off
    /// Every delivered sample from rule.preSeconds before the start to the end, as delivered
    /// (those before the start may have been let pass by a pause).
    std::vector<DeliveredSample> samples;
    /// The frame shown once the peak had moved kPictureDelay samples down the trace, or at the end
    /// when that came first; null when no frame could be had.
    CairoSurfacePtr picture;
};

/// Receives each event once it has ended and has its picture.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void eventEnded(Event&& event) = 0;
};

/// Finds events among the delivered samples, the way a seismograph's trigger does, and hands each
/// to a sink when it ends.
///
/// Only recorded samples count. A sample let pass (paused, settings page) ends an open event at its
/// last recorded sample, and the first sample recorded after launch or after such a gap never starts
/// one: its difference is taken from a state that waited, not from a movement. An event longer than
/// kLongestSeconds is cut there, and the next piece starts at once without samples from before.
///
/// Pictures are asked for rather than taken, since only the run loop has frames: while wantsPicture()
/// holds, the loop hands one over with takePicture() after the samples it delivered.
///
/// It holds no more than the samples of rule.preSeconds and those of the event in progress.
class EventCapture final : public SampleListener {
public:
    static constexpr double kLongestSeconds = 600.0;
    /// The picture is taken this many recorded samples after the peak: halfway down the trace.
    static constexpr int kPictureDelay = 100;

    /// The sink is borrowed and must outlive the capture.
    EventCapture(const EventRule& rule, EventSink& sink);

    void sampleDelivered(const DeliveredSample& delivered) override;

    /// True when the event in progress reached the moment for its picture, or an event ended
    /// without one of its peak.
    bool wantsPicture() const;
    /// The frame on screen now, or null when none could be had. Events waiting for it go on.
    void takePicture(const CairoSurfacePtr& picture);

    /// Ends an event still open, as at the end of the run; it may then want its picture.
    void finish();

    /// Events ended so far.
    std::uint64_t count() const { return count_; }
    /// "events": {"count", and the last event's "start", "end" and "peak"}.
    void writeState(JsonWriter& json) const;

private:
    struct Open {
        Event event;
        double lastOver = 0.0; // the last sample at or above the level
        double sumOfSquares = 0.0;
        std::size_t recorded = 0;  // samples from the start on
        int pictureCountdown = -1; // recorded samples until the picture; -1: none due
    };

    void start(const DeliveredSample& delivered, bool withPre);
    void add(const DeliveredSample& delivered, float magnitude);
    void end(Event::Ending ending);
    void forgetBefore(double time);

    EventRule rule_;
    EventSink& sink_;
    std::deque<DeliveredSample> before_; // the last rule.preSeconds of delivered samples
    std::optional<Open> open_;
    std::vector<Event> awaitingPicture_;
    bool afterGap_ = true; // launch counts as a gap
    std::uint64_t count_ = 0;
    struct Summary {
        double start = 0.0;
        double end = 0.0;
        float peak = 0.0f;
    };
    std::optional<Summary> last_;
};

} // namespace platform
