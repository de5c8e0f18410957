#pragma once

#include "platform/app/EventCapture.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

/// Writes each event, on a thread of its own, into a folder:
/// - `event-NAME.csv`, the event's samples in the record file's format;
/// - `event-NAME.png`, its picture;
/// - a row of `events.csv`: start,end,peak,rms,samples,csv,png,note.
/// NAME and the times are the local date and time of the start ("20261207-101500") in a window,
/// seconds since launch with three decimals ("12.345") in a headless run. Files are created whole
/// and never replace another (a second of a name gets " (2)"); the log gets whole rows.
///
/// A run that keeps to real time never waits for it: an event is queued, and encoded and written
/// there. At most kMostWaiting events wait; beyond that an event is dropped and counted as not
/// saved, unless the run is a batch one (`batch`), which then waits for room instead: it outruns
/// any disk, and nobody watches it. A failure (a folder that cannot be made, a full disk) is said
/// once on standard error, and failing() tells the title; later events are tried again. The thread
/// leaves SIGINT and SIGTERM to the main thread, so its writes are never cut short by them; it
/// finishes what waits when the run ends, however it ended.
class EventWriter final : public EventSink {
public:
    static constexpr std::size_t kMostWaiting = 8;

    /// Makes `folder` and its parents where they are missing, and starts the thread. A folder that
    /// cannot be made is said, and the run goes on. `localTime` names events by the wall clock;
    /// `batch` waits for room rather than drop an event.
    EventWriter(std::filesystem::path folder, bool localTime, bool batch);
    ~EventWriter() override;
    EventWriter(const EventWriter&) = delete;
    EventWriter& operator=(const EventWriter&) = delete;

    /// $XDG_DATA_HOME/trembit/events, or $HOME/.local/share/trembit/events.
    static std::filesystem::path defaultFolder();

    /// Time 0 of the run's clock by the wall clock; call before the first event.
    void setLaunchTime(std::chrono::system_clock::time_point launch) { launch_ = launch; }

    /// Queues the event; only a batch run waits, for room.
    void eventEnded(Event&& event) override;

    /// Writes what waits, stops the thread and says how many events were saved where. False when
    /// any event could not be written whole.
    bool finish();

    /// The picture of an event already written, for the next picture's pixels; null when there is
    /// none to spare.
    CairoSurfacePtr sparePicture();

    /// True while the last event, or the folder, could not be written.
    bool failing() const { return failing_.load(); }

    /// A time as events are named and logged by.
    std::string timeText(double seconds) const;

private:
    void run();
    void write(Event& event);
    void makeFolder() const;
    void appendLog(const std::string& row) const;
    void fail(const std::string& problem);
    void stop();

    std::filesystem::path folder_;
    bool localTime_;
    bool batch_;
    std::chrono::system_clock::time_point launch_ = std::chrono::system_clock::now();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable room_;
    std::deque<Event> waiting_;
    CairoSurfacePtr spare_;
    bool closing_ = false;

    std::atomic<bool> failing_{false};
    std::atomic<bool> said_{false};
    std::atomic<std::uint64_t> handed_{0};
    std::atomic<std::uint64_t> lost_{0};
    std::thread thread_; // last: started once everything it uses is
};

} // namespace platform
