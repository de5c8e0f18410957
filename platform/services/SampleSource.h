#pragma once

#include "platform/services/Acceleration.h"

#include <optional>
#include <string>

namespace platform {

/// Where the accelerometer's samples come from: a simulation, a file of recorded samples, a device.
/// The accelerometer owns its source and polls it on the main thread, once per tick, in tick order.
class SampleSource {
public:
    virtual ~SampleSource() = default;

    /// The sample for the tick due at `now` (seconds on the application clock), or none when the
    /// source has nothing for this tick.
    virtual std::optional<Acceleration> nextSample(double now) = 0;

    /// True when no sample will ever come again (a file read to its end); the accelerometer then stops
    /// polling.
    virtual bool isExhausted() const { return false; }

    /// True while the sample for the next tick has not arrived yet but will: a stream that drops
    /// nothing, read by a thread of its own. The accelerometer then holds the tick back, and the main
    /// loop waits for readyFd() instead of moving the clock on.
    virtual bool awaitsInput() const { return false; }
    /// Readable once a sample or the end of the input has arrived since awaitsInput() last said true;
    /// -1 for a source that never waits.
    virtual int readyFd() const { return -1; }

    /// How the user named the source on the command line, e.g. "sim" or "file:/path/samples.csv".
    virtual std::string description() const = 0;

    /// Called once at exit: reports on stderr what the user should know about the run (lines skipped).
    virtual void finish() {}
};

} // namespace platform
