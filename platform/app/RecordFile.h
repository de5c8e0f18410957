#pragma once

#include "platform/services/Accelerometer.h"
#include "platform/services/OwnedFd.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

/// The --record file: a CSV row "t,x,y,z,deflection" per delivered sample. `t` is the tick's time
/// in seconds since launch with nine significant digits (more from 10^6 s on, so that neighbouring
/// rows never share one), x, y and z in g with seventeen, and the deflection sent to the recorder
/// with nine, empty when the sample was let pass.
///
/// A live run writes every row as it is recorded, so a crash loses at most that row. A batch run
/// hands the samples in batches to a writer thread, which formats them (the bulk of the cost)
/// while the run goes on, and writes through a buffer flushed when full and at the end: many times
/// quicker, and a killed batch run loses only its unwritten rows, as any batch tool may.
///
/// A failed write is said at once, once, with the file and the reason; the file is cut back to its
/// last whole row and recording to it stops, while the run goes on.
class RecordFile final : public SampleListener {
public:
    enum class Flushing { EveryRow, WhenFull };

    /// Creates or empties `path` and writes the header. Throws std::runtime_error naming the file.
    RecordFile(std::filesystem::path path, Flushing flushing);
    ~RecordFile() override;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    /// Throws what the constructor would when `path` plainly cannot be written (its folder is
    /// missing or closed, it is a folder), without touching it: checked at start, before the run
    /// is known to begin, while the file itself is made only once it has.
    static void checkWritable(const std::filesystem::path& path);

    void sampleDelivered(const DeliveredSample& delivered) override;

    /// Writes what is waiting and closes the file. False when any write failed, now or before.
    bool finish();

    /// One row's text, as written to the file.
    static std::string row(const DeliveredSample& delivered);

private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;
    static constexpr std::size_t kRowsPerBatch = 8192;
    // The longest row: five numbers of at most 24 characters, their commas and the line break.
    static constexpr std::size_t kLongestRow = 5 * 24 + 5;

    /// Writes one row's text at `out`, which has room for kLongestRow; returns its end.
    static char* formatRow(const DeliveredSample& delivered, char* out);

    /// Appends the row to the buffer, and writes the buffer out when full or `now`.
    void append(const DeliveredSample& delivered, bool now);

    /// Writes the buffer out; on failure says so, cuts the file back to its last whole row and
    /// stops recording.
    void flush();

    /// Gives the gathered batch to the writer, once it has taken the one before.
    void hand();

    /// The writer thread: formats and writes each batch handed to it, then the rest at the end.
    void writeBatches();

    /// Hands what is gathered to the writer and waits for it to finish.
    void endWriter();

    std::filesystem::path path_;
    Flushing flushing_;
    OwnedFd fd_;
    std::string buffer_;        // the writer's (the run's own in a live run)
    std::uint64_t written_ = 0; // bytes in the file, all of them whole rows
    std::atomic<bool> failed_ = false;
    bool closed_ = false;

    // A batch run's samples: gathered by the run, handed over one batch at a time.
    std::vector<DeliveredSample> gathered_;
    std::vector<DeliveredSample> handed_; // guarded by mutex_
    bool handedFull_ = false;             // guarded by mutex_
    bool ending_ = false;                 // guarded by mutex_
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread writer_;
};

} // namespace platform
