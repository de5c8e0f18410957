#include "platform/services/FileSource.h"

#include "platform/services/InputFile.h"
#include "platform/services/SampleLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;
// Enough to hold a line at the limit plus its '\r'; one byte more and the line is too long anyway.
constexpr std::size_t kHeldLineBytes = kMaxSampleLineBytes + 1;
// Spreadsheets often start a CSV file with a UTF-8 byte order mark.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

} // namespace

FileSource::FileSource(std::filesystem::path file, SampleUnits units)
    : file_(std::move(file)), units_(units), fd_(openForReading(file_)), buffer_(kBufferBytes) {
    const auto fail = [this](int error) {
        throw std::runtime_error("cannot open " + file_.string() + ": " +
                                 std::generic_category().message(error));
    };
    if (fd_.get() < 0) {
        fail(errno);
    }
    struct stat status {};
    if (::fstat(fd_.get(), &status) != 0) {
        fail(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        fail(EISDIR); // a directory opens fine and only fails at the first read
    }
    regular_ = S_ISREG(status.st_mode);
    line_.reserve(kHeldLineBytes);
}

std::string FileSource::description() const {
    return "file:" + file_.string();
}

bool FileSource::readLine(std::size_t& budget) {
    while (true) {
        if (bufferBegin_ == bufferEnd_) {
            if (endOfFile_) {
                if (readFailed_) {
                    // What was read of the interrupted line may be a number cut short: never a sample.
                    line_.clear();
                    lineTooLong_ = false;
                }
                if (line_.empty() && !lineTooLong_) {
                    return false;
                }
                ++lineNumber_; // a last line without a line break
                return true;
            }
            if (budget == 0 || !fill(budget)) {
                return false;
            }
            continue;
        }

        const char* begin = buffer_.data() + bufferBegin_;
        const char* end = buffer_.data() + bufferEnd_;
        const auto* newline =
            static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
        const char* stop = newline != nullptr ? newline : end;
        const auto length = static_cast<std::size_t>(stop - begin);
        if (!lineTooLong_) {
            if (line_.size() + length > kHeldLineBytes) {
                lineTooLong_ = true;
                line_.clear();
            } else {
                line_.append(begin, length);
            }
        }
        bufferBegin_ = static_cast<std::size_t>(stop - buffer_.data());
        if (newline != nullptr) {
            ++bufferBegin_;
            ++lineNumber_;
            return true;
        }
    }
}

bool FileSource::fill(std::size_t& budget) {
    const std::size_t wanted = std::min(buffer_.size(), budget);
    while (true) {
        // A pipe's read would take "no writer yet" for the end, and would block the answer to a
        // signal: wait for data first, together with the stop request.
        if (!regular_ && !waitUntilReadable(fd_.get())) {
            return false;
        }
        const ssize_t got = ::read(fd_.get(), buffer_.data(), wanted);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        bufferBegin_ = 0;
        bufferEnd_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        budget -= bufferEnd_;
        if (got < 0) {
            readFailed_ = true;
        }
        endOfFile_ = got <= 0;
        return true;
    }
}

std::optional<Acceleration> FileSource::nextSample(double) {
    if (exhausted_) {
        return std::nullopt;
    }
    std::size_t budget = kReadBudgetPerTick;
    while (readLine(budget)) {
        std::string_view text = line_;
        if (lineNumber_ == 1 && text.starts_with(kByteOrderMark)) {
            text.remove_prefix(kByteOrderMark.size());
        }
        if (lineNumber_ == 1 && !lineTooLong_ && isRecordHeader(text)) {
            layout_ = SampleLineLayout::Record;
        }
        Acceleration sample;
        const SampleLineKind kind =
            lineTooLong_ ? SampleLineKind::Malformed : classifySampleLine(text, sample, layout_);
        line_.clear();
        lineTooLong_ = false;
        if (kind == SampleLineKind::Sample) {
            // A recording holds what was delivered, which is always in g.
            return layout_ == SampleLineLayout::Record ? sample : toG(sample, units_);
        }
        if (kind == SampleLineKind::Malformed) {
            if (malformed_++ == 0) {
                firstMalformed_ = lineNumber_;
            }
        }
    }
    exhausted_ = endOfFile_ && bufferBegin_ == bufferEnd_;
    return std::nullopt;
}

void FileSource::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    // One write per message, so that it is never split by other output.
    if (malformed_ > 0) {
        std::cerr << ("trembit: " + description() + ": skipped " + std::to_string(malformed_) +
                      " malformed " + (malformed_ == 1 ? "line" : "lines") + " (first at line " +
                      std::to_string(firstMalformed_) + ")\n")
                  << std::flush;
    }
    if (readFailed_) {
        std::cerr << ("trembit: " + description() + ": could not read past line " +
                      std::to_string(lineNumber_) + "\n")
                  << std::flush;
    }
}

} // namespace platform
