#include "platform/services/StopRequest.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace platform::stop {

namespace {

std::atomic<bool> stopRequested{false};
// An eventfd whose counter is raised once a stop is asked for; it is never read, so it stays readable.
std::atomic<int> stopFd{-1};

void raiseFd() {
    const int fd = stopFd.load();
    if (fd >= 0) {
        const std::uint64_t one = 1;
        // write() is async-signal-safe; the only failure, a counter overflow, leaves it readable anyway.
        [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
    }
}

extern "C" void onStopSignal(int) {
    const int savedErrno = errno;
    stopRequested.store(true);
    raiseFd();
    errno = savedErrno;
}

} // namespace

void installHandlers() {
    if (stopFd.load() < 0) {
        const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0) {
            throw std::system_error(errno, std::generic_category(), "cannot set up the signal handlers");
        }
        stopFd.store(fd);
    }
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked read returns EINTR instead of going on
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void keepSignalsFromThisThread() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

bool requested() {
    return stopRequested.load();
}

int fd() {
    return stopFd.load();
}

void request() {
    stopRequested.store(true);
    raiseFd();
}

bool sleepUntil(std::chrono::steady_clock::time_point deadline, int descriptor) {
    using Clock = std::chrono::steady_clock;
    std::array<pollfd, 2> watched{{{fd(), POLLIN, 0}, {descriptor, POLLIN, 0}}};
    for (;;) {
        if (requested()) {
            return true;
        }
        timespec timeout{};
        timespec* limit = nullptr;
        if (deadline != Clock::time_point::max()) {
            const Clock::duration left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) {
                return false;
            }
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            limit = &timeout;
        }
        const int ready = ::ppoll(watched.data(), watched.size(), limit, nullptr);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return true; // a descriptor poll() cannot watch: do not sleep on it for ever
        }
    }
}

void resetForTesting() {
    stopRequested.store(false);
    const int fd = stopFd.load();
    if (fd >= 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t got = ::read(fd, &value, sizeof value);
    }
}

} // namespace platform::stop
