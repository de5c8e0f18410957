#pragma once

#include <unistd.h>

namespace platform {

/// A file descriptor owned by its holder: closed when the holder goes. -1 holds nothing.
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    OwnedFd(OwnedFd&& other) noexcept : fd_(other.release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        if (this != &other) {
            OwnedFd gone(fd_);
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    /// Gives the descriptor up without closing it, for a close whose result is looked at.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

} // namespace platform
