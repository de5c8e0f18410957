#include "platform/services/InputFile.h"

#include "platform/services/OwnedFd.h"
#include "platform/services/StopRequest.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

// Read in pieces of this size, so that a cap holds however much a file offers.
constexpr std::size_t kPieceBytes = 64 * 1024;
constexpr std::size_t kMebibyte = 1024 * 1024;

} // namespace

InputFileError::InputFileError(std::filesystem::path file, std::string reason, bool tooLarge)
    : std::runtime_error("cannot read " + file.string() + ": " + reason), file_(std::move(file)),
      reason_(std::move(reason)), tooLarge_(tooLarge) {}

ReadInterrupted::ReadInterrupted(const std::filesystem::path& file)
    : std::runtime_error("stopped while reading " + file.string()) {}

std::string describeSize(std::size_t bytes) {
    if (bytes >= kMebibyte && bytes % kMebibyte == 0) {
        return std::to_string(bytes / kMebibyte) + " MB";
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

int openForReading(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

bool waitUntilReadable(int fd) {
    std::array<pollfd, 2> waits{{{fd, POLLIN, 0}, {stop::fd(), POLLIN, 0}}};
    while (true) {
        if (stop::requested()) {
            return false;
        }
        const int ready = ::poll(waits.data(), waits.size(), -1);
        if (ready < 0 && errno != EINTR) {
            return true; // let the read say what is wrong
        }
        if (waits[1].revents != 0 || stop::requested()) {
            return false;
        }
        if (waits[0].revents != 0) {
            return true;
        }
    }
}

std::string readInputFile(const std::filesystem::path& path, std::size_t maxBytes) {
    const auto fail = [&](int error) { throw InputFileError(path, std::strerror(error)); };
    const auto tooLarge = [&] { throw InputFileError(path, "larger than " + describeSize(maxBytes), true); };
    const OwnedFd fd(openForReading(path));
    if (fd.get() < 0) {
        fail(errno);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        fail(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        fail(EISDIR);
    }
    // A regular file says its size and never makes a read wait; anything else is read until its
    // end, waiting for data only together with the stop request.
    const bool regular = S_ISREG(status.st_mode);
    if (regular && static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
        tooLarge();
    }
    std::string text;
    if (regular) {
        text.reserve(static_cast<std::size_t>(status.st_size));
    }
    while (true) {
        if (!regular && !waitUntilReadable(fd.get())) {
            throw ReadInterrupted(path);
        }
        // One byte past the cap is enough to know it is passed.
        const std::size_t room = std::min(kPieceBytes, maxBytes + 1 - text.size());
        const std::size_t before = text.size();
        text.resize(before + room);
        const ssize_t got = ::read(fd.get(), text.data() + before, room);
        text.resize(before + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        if (got == 0) {
            return text;
        }
        if (text.size() > maxBytes) {
            tooLarge();
        }
    }
}

} // namespace platform
