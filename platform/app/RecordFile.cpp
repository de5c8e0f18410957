#include "platform/app/RecordFile.h"

#include "platform/services/OutputFile.h"
#include "platform/services/SampleLine.h"
#include "platform/services/StopRequest.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kTimeDigits = 9;
// Below this many seconds nine digits keep a thousandth of a second, finer than any update interval.
constexpr double kTimeDigitsHold = 1.0e6;
constexpr int kSampleDigits = 17;
constexpr int kDeflectionDigits = 9;

// `value` as printf's "%.<digits>g" writes it, appended to `out`.
char* put(char* out, char* end, double value, int digits) {
    return std::to_chars(out, end, value, std::chars_format::general, digits).ptr;
}

// Past 10^6 s a tick's time keeps three decimals, like the times before it.
int timeDigits(double t) {
    if (!(t >= kTimeDigitsHold) || !std::isfinite(t)) {
        return kTimeDigits;
    }
    return static_cast<int>(std::floor(std::log10(t))) + 1 + 3;
}

} // namespace

RecordFile::RecordFile(std::filesystem::path path, Flushing flushing)
    : path_(std::move(path)), flushing_(flushing), fd_(openForWriting(path_, O_CREAT | O_TRUNC)) {
    if (fd_.get() < 0) {
        throw std::runtime_error("cannot write the record file " + path_.string() + ": " +
                                 std::strerror(errno));
    }
    buffer_.reserve(kBufferBytes + kLongestRow);
    buffer_ = kRecordHeader;
    buffer_ += '\n';
    flush();
    if (flushing_ == Flushing::WhenFull) {
        gathered_.reserve(kRowsPerBatch);
        writer_ = std::thread([this] { writeBatches(); });
    }
}

RecordFile::~RecordFile() {
    endWriter();
}

void RecordFile::checkWritable(const std::filesystem::path& path) {
    struct stat status {};
    int error = 0;
    if (::stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            error = EISDIR;
        } else if (::access(path.c_str(), W_OK) != 0) {
            error = errno;
        }
    } else if (errno != ENOENT) {
        error = errno;
    } else {
        const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
        if (::access(folder.c_str(), W_OK | X_OK) != 0) {
            error = errno;
        }
    }
    if (error != 0) {
        throw std::runtime_error("cannot write the record file " + path.string() + ": " +
                                 std::strerror(error));
    }
}

std::string RecordFile::row(const DeliveredSample& delivered) {
    char text[kLongestRow];
    return std::string(text, formatRow(delivered, text));
}

char* RecordFile::formatRow(const DeliveredSample& delivered, char* out) {
    char* const end = out + kLongestRow;
    char* p = put(out, end, delivered.time, timeDigits(delivered.time));
    for (const double v : {delivered.sample.x, delivered.sample.y, delivered.sample.z}) {
        *p++ = ',';
        p = put(p, end, v, kSampleDigits);
    }
    *p++ = ',';
    if (delivered.deflection) {
        p = put(p, end, static_cast<double>(*delivered.deflection), kDeflectionDigits);
    }
    *p++ = '\n';
    return p;
}

void RecordFile::sampleDelivered(const DeliveredSample& delivered) {
    if (failed_.load(std::memory_order_relaxed) || closed_) {
        return;
    }
    if (flushing_ == Flushing::EveryRow) {
        append(delivered, true);
        return;
    }
    gathered_.push_back(delivered);
    if (gathered_.size() == kRowsPerBatch) {
        hand();
    }
}

void RecordFile::append(const DeliveredSample& delivered, bool now) {
    const std::size_t used = buffer_.size();
    buffer_.resize(used + kLongestRow);
    buffer_.resize(static_cast<std::size_t>(formatRow(delivered, buffer_.data() + used) - buffer_.data()));
    if (now || buffer_.size() >= kBufferBytes) {
        flush();
    }
}

void RecordFile::hand() {
    std::unique_lock lock(mutex_);
    // Waits while the writer still holds the batch before: for one batch's formatting, or, on a pipe,
    // for its reader, which a stop cuts short (see writeSome).
    changed_.wait(lock, [this] { return !handedFull_; });
    handed_.swap(gathered_);
    handedFull_ = true;
    changed_.notify_all();
    lock.unlock();
    gathered_.clear();
}

void RecordFile::writeBatches() {
    stop::keepSignalsFromThisThread();
    std::vector<DeliveredSample> batch;
    batch.reserve(kRowsPerBatch);
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return handedFull_ || ending_; });
        if (!handedFull_) {
            break;
        }
        batch.swap(handed_);
        handedFull_ = false;
        changed_.notify_all();
        lock.unlock();
        for (const DeliveredSample& delivered : batch) {
            if (failed_.load(std::memory_order_relaxed)) {
                break;
            }
            append(delivered, false);
        }
        batch.clear();
        lock.lock();
    }
    if (!failed_.load()) {
        flush();
    }
}

void RecordFile::endWriter() {
    if (!writer_.joinable()) {
        return;
    }
    if (!gathered_.empty() && !failed_.load()) {
        hand();
    }
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void RecordFile::flush() {
    int error = 0;
    const std::size_t done = writeSome(fd_.get(), buffer_, error);
    if (error != 0) {
        // Whole rows only: whatever of a row reached the file goes again.
        const std::size_t lastBreak = buffer_.find_last_of('\n', done == 0 ? std::string::npos : done - 1);
        const std::size_t whole = done == 0 || lastBreak == std::string::npos ? 0 : lastBreak + 1;
        written_ += whole;
        if (whole != done) {
            try {
                cutBack(fd_.get(), written_, path_);
            } catch (const OutputError&) {
                // Said below; the file may keep part of a row, which a replay skips as malformed.
            }
        }
        std::fprintf(stderr, "trembit: cannot write the record file %s: %s; recording to it stopped\n",
                     path_.c_str(), std::strerror(error));
        failed_ = true;
    } else {
        written_ += done;
    }
    buffer_.clear();
}

bool RecordFile::finish() {
    if (!closed_) {
        endWriter();
        if (!failed_ && !buffer_.empty()) {
            flush();
        }
        closed_ = true;
        if (::close(fd_.release()) != 0 && !failed_) {
            std::fprintf(stderr, "trembit: cannot write the record file %s: %s\n", path_.c_str(),
                         std::strerror(errno));
            failed_ = true;
        }
    }
    return !failed_;
}

} // namespace platform
