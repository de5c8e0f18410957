#include "platform/services/StdinSource.h"

#include "platform/services/Accelerometer.h"
#include "platform/services/SampleLine.h"
#include "platform/services/StopRequest.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <string_view>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

// Enough to hold a line at the limit plus its '\r'; one byte more and the line is too long anyway.
constexpr std::size_t kHeldLineBytes = kMaxSampleLineBytes + 1;
// Spreadsheets and some tools start their output with a UTF-8 byte order mark.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// 1 / (1 / 200.0) may come out a hair above 200: not a reason for a 201st slot.
constexpr double kCapacitySlack = 1e-9;

double usableInterval(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        return Accelerometer::kDefaultUpdateInterval;
    }
    return std::max(seconds, Accelerometer::kMinimumUpdateInterval);
}

std::size_t oneSecondOfSamples(double interval) {
    return std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(1.0 / interval - kCapacitySlack)));
}

} // namespace

StdinSource::StdinSource(int fd, SampleUnits units, bool lossless, double updateIntervalSeconds)
    : fd_(fd), units_(units), lossless_(lossless), rate_(1.0 / usableInterval(updateIntervalSeconds)),
      queue_(oneSecondOfSamples(usableInterval(updateIntervalSeconds))),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), ready_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_.get() < 0 || ready_.get() < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot set up reading from stdin");
    }
    reader_ = std::thread([this] { read(); });
}

StdinSource::~StdinSource() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    roomMade_.notify_all();
    const std::uint64_t one = 1;
    // Cannot fail short of a counter overflow, which one write per destruction never reaches.
    [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
    reader_.join();
}

void StdinSource::read() {
    stop::keepSignalsFromThisThread();
    std::vector<char> buffer(kReadBytes);
    std::string line;
    line.reserve(kHeldLineBytes);
    bool lineTooLong = false;
    std::uint64_t lineNumber = 0;
    // False once the destructor wants the thread back.
    const auto take = [&] {
        ++lineNumber;
        const bool more = takeLine(line, lineTooLong, lineNumber);
        line.clear();
        lineTooLong = false;
        return more;
    };

    if (fd_ < 0) {
        endInput(EBADF); // poll() would pass over it and wait for nothing but the destructor
        return;
    }
    std::array<pollfd, 2> waits = {pollfd{fd_, POLLIN, 0}, pollfd{wake_.get(), POLLIN, 0}};
    while (true) {
        if (::poll(waits.data(), waits.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            endInput(errno);
            return;
        }
        if (waits[1].revents != 0) {
            return; // the destructor wants the thread back
        }
        if ((waits[0].revents & POLLNVAL) != 0) {
            endInput(EBADF);
            return;
        }
        // Readable, hung up or in error: the read says which.
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            endInput(errno);
            return;
        }
        if (got == 0) {
            if ((!line.empty() || lineTooLong) && !take()) {
                return; // a last line without a line break, which met the destructor
            }
            endInput(0);
            return;
        }

        const char* begin = buffer.data();
        const char* const end = buffer.data() + got;
        while (begin != end) {
            const auto* newline =
                static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
            const char* stop = newline != nullptr ? newline : end;
            const auto length = static_cast<std::size_t>(stop - begin);
            if (!lineTooLong) {
                if (line.size() + length > kHeldLineBytes) {
                    lineTooLong = true; // skipped up to its end, never held
                    line.clear();
                } else {
                    line.append(begin, length);
                }
            }
            begin = stop;
            if (newline != nullptr) {
                ++begin;
                if (!take()) {
                    return;
                }
            }
        }
    }
}

bool StdinSource::takeLine(std::string_view line, bool tooLong, std::uint64_t lineNumber) {
    if (lineNumber == 1 && line.starts_with(kByteOrderMark)) {
        line.remove_prefix(kByteOrderMark.size());
    }
    Acceleration sample;
    const SampleLineKind kind = tooLong ? SampleLineKind::Malformed : classifySampleLine(line, sample);
    if (kind == SampleLineKind::Sample) {
        return push(toG(sample, units_));
    }
    const std::lock_guard lock(mutex_);
    if (kind == SampleLineKind::Malformed && malformed_++ == 0) {
        firstMalformed_ = lineNumber;
    }
    return !stopping_;
}

bool StdinSource::push(const Acceleration& sample) {
    std::unique_lock lock(mutex_);
    if (lossless_) {
        roomMade_.wait(lock, [this] { return stopping_ || count_ < queue_.size(); });
    }
    if (stopping_) {
        return false;
    }
    if (count_ == queue_.size()) {
        head_ = (head_ + 1) % queue_.size();
        --count_;
        ++dropped_;
    }
    queue_[(head_ + count_) % queue_.size()] = sample;
    ++count_;
    maxQueued_ = std::max(maxQueued_, count_);
    const bool wasEmpty = count_ == 1;
    lock.unlock();
    if (wasEmpty) {
        signalReady();
    }
    return true;
}

void StdinSource::endInput(int error) {
    {
        const std::lock_guard lock(mutex_);
        inputEnded_ = true;
        readError_ = error;
    }
    signalReady();
}

void StdinSource::signalReady() {
    const std::uint64_t one = 1;
    // Cannot fail short of a counter overflow, and a readable counter is all the waiter needs.
    [[maybe_unused]] const ssize_t written = ::write(ready_.get(), &one, sizeof one);
}

bool StdinSource::awaitsInput() const {
    if (!lossless_) {
        return false;
    }
    // Cleared before looking, so a sample queued after the look makes it readable again.
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(ready_.get(), &count, sizeof count);
    const std::lock_guard lock(mutex_);
    return count_ == 0 && !inputEnded_;
}

std::optional<Acceleration> StdinSource::nextSample(double) {
    std::unique_lock lock(mutex_);
    if (count_ == 0) {
        return std::nullopt;
    }
    const Acceleration sample = queue_[head_];
    head_ = (head_ + 1) % queue_.size();
    --count_;
    lock.unlock();
    roomMade_.notify_one();
    return sample;
}

bool StdinSource::isExhausted() const {
    const std::lock_guard lock(mutex_);
    return inputEnded_ && count_ == 0;
}

std::size_t StdinSource::maxQueued() const {
    const std::lock_guard lock(mutex_);
    return maxQueued_;
}

std::uint64_t StdinSource::malformedLines() const {
    const std::lock_guard lock(mutex_);
    return malformed_;
}

std::uint64_t StdinSource::droppedSamples() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}

void StdinSource::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    std::uint64_t malformed = 0;
    std::uint64_t firstMalformed = 0;
    std::uint64_t dropped = 0;
    int readError = 0;
    {
        const std::lock_guard lock(mutex_);
        malformed = malformed_;
        firstMalformed = firstMalformed_;
        dropped = dropped_;
        readError = readError_;
    }
    const std::string prefix = "trembit: " + description() + ": ";
    // One write per message, so that it is never split by other output.
    if (malformed > 0) {
        std::cerr << (prefix + "skipped " + std::to_string(malformed) + " malformed " +
                      (malformed == 1 ? "line" : "lines") + " (first at line " +
                      std::to_string(firstMalformed) + ")\n")
                  << std::flush;
    }
    if (dropped > 0) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g", rate_);
        std::cerr << (prefix + "dropped " + std::to_string(dropped) +
                      (dropped == 1 ? " sample" : " samples") + " that came faster than " + rate +
                      " per second\n")
                  << std::flush;
    }
    if (readError != 0) {
        std::cerr << (prefix + "reading stopped: " + std::generic_category().message(readError) + "\n")
                  << std::flush;
    }
}

} // namespace platform
