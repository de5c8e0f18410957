#pragma once

#include "platform/services/OwnedFd.h"
#include "platform/services/SampleSource.h"
#include "platform/services/Units.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

/// Samples streamed in as "x,y,z" lines (see SampleLine.h) on a file descriptor, usually standard
/// input fed by a pipe from another program.
///
/// A reader thread of its own reads the descriptor, so that a slow or silent writer never holds up the
/// main thread, and hands the samples over through a queue that holds at most one second of them.
/// Everything else, the constructor and destructor included, runs on the main thread.
///
/// Live mode keeps the trace current: when the writer runs ahead of the update rate the oldest queued
/// sample is dropped (and counted). Lossless mode, for runs that must see every sample, makes the
/// reader wait for room, and holds the next tick back until its sample is read (awaitsInput(), with
/// readyFd() to wait on). nextSample() itself never waits.
class StdinSource final : public SampleSource {
public:
    /// Bytes asked of the descriptor per read.
    static constexpr std::size_t kReadBytes = 64 * 1024;

    /// Starts reading `fd` (not owned: it must stay open until this is destroyed; it is never closed
    /// here) for samples in `units`. The queue holds one second at `updateIntervalSeconds` per sample,
    /// at least one sample; an interval that is not a positive number counts as the accelerometer's
    /// default. Throws std::system_error when the reader cannot be set up.
    StdinSource(int fd, SampleUnits units, bool lossless, double updateIntervalSeconds);
    /// Stops the reader, even when it is waiting on a descriptor whose writer keeps it open, and waits
    /// for it to end.
    ~StdinSource() override;
    StdinSource(const StdinSource&) = delete;
    StdinSource& operator=(const StdinSource&) = delete;

    /// The oldest queued sample, in g; none when nothing is queued.
    std::optional<Acceleration> nextSample(double now) override;
    /// True once the input has ended and every sample read has been taken.
    bool isExhausted() const override;
    /// Lossless mode: nothing is queued yet, but the input goes on.
    bool awaitsInput() const override;
    int readyFd() const override { return ready_.get(); }
    /// "stdin".
    std::string description() const override { return "stdin"; }
    /// Says on stderr how many lines were malformed, how many samples were dropped and whether reading
    /// stopped on an error, each only if there were any. Says it once, however often it is called.
    void finish() override;

    /// The most samples the queue holds.
    std::size_t capacity() const { return queue_.size(); }
    /// The most samples that were ever queued at once.
    std::size_t maxQueued() const;
    std::uint64_t malformedLines() const;
    std::uint64_t droppedSamples() const;

private:
    // These run on the reader thread. takeLine and push return false once the reader is asked to stop.
    void read();
    // One line of input without its '\n'; a line that was too long to hold comes empty.
    bool takeLine(std::string_view line, bool tooLong, std::uint64_t lineNumber);
    // Queues a sample: waits for room in lossless mode, drops the oldest in live mode.
    bool push(const Acceleration& sample);
    // Marks the end of the input, with the errno of a failed read or 0.
    void endInput(int error);
    // Makes readyFd() readable.
    void signalReady();

    const int fd_;
    const SampleUnits units_;
    const bool lossless_;
    const double rate_; // samples per second, for the report

    // Shared by both threads: the queue, a ring of capacity() samples, and what the reader found.
    mutable std::mutex mutex_;
    std::condition_variable roomMade_; // the reader waits for room (lossless mode)
    std::vector<Acceleration> queue_;
    std::size_t head_ = 0;  // the oldest queued sample
    std::size_t count_ = 0; // samples queued
    std::size_t maxQueued_ = 0;
    bool inputEnded_ = false;
    bool stopping_ = false;
    int readError_ = 0; // errno of the read that ended the input, 0 at a plain end
    std::uint64_t malformed_ = 0;
    std::uint64_t firstMalformed_ = 0; // its 1-based line number
    std::uint64_t dropped_ = 0;

    bool finished_ = false; // main thread only
    // Written by the destructor to wake a reader waiting in poll(), and by the reader when a sample
    // or the end of input comes to an empty queue. Declared before the thread, so they outlive it.
    OwnedFd wake_;
    OwnedFd ready_;
    std::thread reader_;
};

} // namespace platform
