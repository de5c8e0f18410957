#include "platform/backend/SdlBackend.h"

#include "platform/services/StopRequest.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <poll.h>

namespace platform {

namespace {

constexpr int kFullscreenScale = 2;
constexpr double kFrameInterval = 1.0 / 60.0;
constexpr double kTitleInterval = 0.25;
// A wait for nothing in particular still looks up this often (seconds).
constexpr double kLongestWait = 1.0;

bool readable(int descriptor) {
    if (descriptor < 0) {
        return false;
    }
    pollfd watched{descriptor, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
}

} // namespace

SdlBackend::SdlBackend(std::optional<int> scale, bool fullscreen)
    : scale_(scale.value_or(fullscreen ? kFullscreenScale : SdlWindow::defaultScale())),
      fullscreen_(fullscreen) {}

void SdlBackend::open() {
    window_ = std::make_unique<SdlWindow>("Trembit", scale_, fullscreen_);
    // Said once, so that a user or a test can tell a Wayland window from one through XWayland.
    std::fprintf(stderr, "trembit: video driver: %s\n", SdlWindow::videoDriver().c_str());
}

double SdlBackend::realSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void SdlBackend::refreshTitle() {
    const double now = clock_.now();
    if (!titleSource_ || now < lastTitle_ + kTitleInterval) {
        return;
    }
    std::string title = titleSource_(now);
    if (title != shownTitle_) {
        window_->setTitle(title);
        shownTitle_ = std::move(title);
    }
    lastTitle_ = now;
}

std::vector<InputEvent> SdlBackend::wait(double until, int descriptor) {
    refreshTitle();
    const double next = titleSource_ ? std::min(until, lastTitle_ + kTitleInterval) : until;
    const std::array<int, 2> watched{stop::fd(), descriptor};
    std::vector<InputEvent> events;
    bool early = false;
    // Input is looked at as often as frames are shown. A wake that comes sooner than that, for a
    // sample, sleeps without asking the window system: at 200 samples a second that asking would
    // cost more than everything else the loop does between frames.
    const double real = realSeconds();
    if (next == kForever || real - lastInputCheck_ >= kFrameInterval || next - real >= kFrameInterval) {
        events = window_->waitEvents(next == kForever ? kLongestWait : std::max(0.0, next - real), watched);
        lastInputCheck_ = realSeconds();
        early = !events.empty() || next == kForever || stop::requested() || readable(descriptor);
    } else {
        early = stop::sleepUntil(started_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                std::chrono::duration<double>(next)),
                                 descriptor);
    }
    // Input ends the wait early, with the clock at the moment it came.
    clock_.advanceTo(early ? std::min(next, std::max(clock_.now(), realSeconds())) : next);
    return events;
}

cairo_surface_t* SdlBackend::frameSurface() {
    frame_ = window_->frameSurface();
    if (frame_ == nullptr) {
        if (!ownFrame_) {
            ownFrame_ = makeImageSurface(static_cast<int>(SdlWindow::kPointSize.width) * scale_,
                                         static_cast<int>(SdlWindow::kPointSize.height) * scale_);
        }
        frame_ = ownFrame_.get();
    }
    return frame_;
}

void SdlBackend::present() {
    if (frame_ != nullptr) {
        window_->present(frame_);
    }
}

} // namespace platform
