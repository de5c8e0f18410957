#pragma once

#include "platform/services/Accelerometer.h"
#include "platform/services/OwnedFd.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {

/// The --record file: a CSV row "t,x,y,z,deflection" per delivered sample. `t` is the tick's time
/// in seconds since launch with nine significant digits (more from 10^6 s on, so that neighbouring
/// rows never share one), x, y and z in g with seventeen, and the deflection sent to the recorder
/// with nine, empty when the sample was let pass.
///
/// A live run writes every row as it is recorded, so a crash loses at most that row. A batch run
/// writes through a buffer, flushed when full and at the end: many times quicker, and a killed batch
/// run loses only its unflushed rows, as any batch tool may.
///
/// A failed write is said at once, once, with the file and the reason; the file is cut back to its
/// last whole row and recording to it stops, while the run goes on.
class RecordFile final : public SampleListener {
public:
    enum class Flushing { EveryRow, WhenFull };

    /// Creates or empties `path` and writes the header. Throws std::runtime_error naming the file.
    RecordFile(std::filesystem::path path, Flushing flushing);

    /// Throws what the constructor would when `path` plainly cannot be written (its folder is
    /// missing or closed, it is a folder), without touching it: checked at start, before the run
    /// is known to begin, while the file itself is made only once it has.
    static void checkWritable(const std::filesystem::path& path);

    void sampleDelivered(const DeliveredSample& delivered) override;

    /// Writes what is buffered and closes the file. False when any write failed, now or before.
    bool finish();

    /// One row's text, as written to the file.
    static std::string row(const DeliveredSample& delivered);

private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;
    // The longest row: five numbers of at most 24 characters, their commas and the line break.
    static constexpr std::size_t kLongestRow = 5 * 24 + 5;

    /// Writes one row's text at `out`, which has room for kLongestRow; returns its end.
    static char* formatRow(const DeliveredSample& delivered, char* out);

    /// Writes the buffer out; on failure says so, cuts the file back to its last whole row and
    /// stops recording.
    void flush();

    std::filesystem::path path_;
    Flushing flushing_;
    OwnedFd fd_;
    std::string buffer_;
    std::uint64_t written_ = 0; // bytes in the file, all of them whole rows
    bool failed_ = false;
    bool closed_ = false;
};

} // namespace platform
