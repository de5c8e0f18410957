#pragma once

#include "platform/services/OwnedFd.h"
#include "platform/services/SampleLine.h"
#include "platform/services/SampleSource.h"
#include "platform/services/Units.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

/// Replays a file of recorded samples, one "x,y,z" line (see SampleLine.h) per tick: every
/// sample line in file order, whatever the times asked for. Blank and comment lines are passed over;
/// a malformed line is passed over and counted, and finish() tells the user how many there were.
/// A file whose first line is kRecordHeader was written by --record: its rows' x, y and z are
/// replayed, in g whatever the units asked for.
///
/// The file is read as a stream through a fixed buffer, and a line is held only up to
/// kMaxSampleLineBytes, so a huge file or a file with no line breaks takes no more memory than a
/// small one.
///
/// A FIFO, a pipe or /dev/stdin works too: opening does not wait for a writer, and each wait for
/// data also watches for SIGINT and SIGTERM (see StopRequest.h). When a stop is asked for, the
/// waiting tick gives no sample and the run's loop ends the run.
class FileSource final : public SampleSource {
public:
    /// Bytes read at most per tick while looking for the next sample line: a file of junk slows
    /// the samples down rather than freezing the window.
    static constexpr std::size_t kReadBudgetPerTick = 1 << 20;

    /// Opens the file, whose samples are in `units`; throws std::runtime_error naming the file and the
    /// reason when it cannot be read.
    explicit FileSource(std::filesystem::path file, SampleUnits units = SampleUnits::G);

    /// The next sample line's sample, in g; none at the end of the file, when the budget for this
    /// tick ran out in a stretch of non-sample lines (the reading resumes at the next tick), or when
    /// a stop was asked for while waiting for a pipe's writer.
    std::optional<Acceleration> nextSample(double now) override;
    /// True once the whole file has been read.
    bool isExhausted() const override { return exhausted_; }
    std::string description() const override;
    /// Says on stderr how many malformed lines were skipped (if any) and whether reading stopped on an
    /// error. Says it once, however often it is called.
    void finish() override;

    std::uint64_t malformedLines() const { return malformed_; }
    /// The 1-based line number of the first malformed line; 0 when there was none.
    std::uint64_t firstMalformedLine() const { return firstMalformed_; }

private:
    // Moves the next complete line into line_; false when the budget ran out first, the file ended
    // with nothing more in it, or a stop was asked for.
    bool readLine(std::size_t& budget);
    // Reads the next piece of the file into the empty buffer; false when a stop was asked for.
    bool fill(std::size_t& budget);

    std::filesystem::path file_;
    SampleUnits units_ = SampleUnits::G;
    SampleLineLayout layout_ = SampleLineLayout::Plain; // Record once the first line is its header
    OwnedFd fd_;
    bool regular_ = true; // a regular file never makes a read wait
    std::vector<char> buffer_;
    std::size_t bufferBegin_ = 0; // unread bytes are buffer_[bufferBegin_, bufferEnd_)
    std::size_t bufferEnd_ = 0;
    std::string line_;         // the line being read, held up to a little past the limit
    bool lineTooLong_ = false; // the line being read has outgrown the limit
    bool endOfFile_ = false;
    bool exhausted_ = false;
    bool readFailed_ = false;
    bool finished_ = false;
    std::uint64_t lineNumber_ = 0;
    std::uint64_t malformed_ = 0;
    std::uint64_t firstMalformed_ = 0;
};

} // namespace platform
