#include "platform/backend/HeadlessBackend.h"

#include "platform/services/StopRequest.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace platform {

namespace {

constexpr int kPointWidth = 320;
constexpr int kPointHeight = 480;

} // namespace

HeadlessBackend::HeadlessBackend(int scale, bool fast) : scale_(scale), fast_(fast) {
    if (scale < 1 || scale > 3) {
        throw std::invalid_argument("the scale must be 1, 2 or 3, not " + std::to_string(scale));
    }
}

std::vector<InputEvent> HeadlessBackend::wait(double until, int descriptor) {
    using namespace std::chrono;
    if (until == kForever && descriptor < 0) {
        return {{InputEvent::Kind::Quit, {}, InputEvent::Key::None}}; // nothing will ever happen
    }
    if (fast_) {
        if (descriptor >= 0) {
            stop::sleepUntil(steady_clock::time_point::max(), descriptor);
        } else {
            clock_.advanceTo(until);
        }
        return {};
    }
    const steady_clock::time_point deadline =
        until == kForever ? steady_clock::time_point::max()
                          : started_ + duration_cast<steady_clock::duration>(duration<double>(until));
    if (stop::sleepUntil(deadline, descriptor)) {
        clock_.advanceTo(std::min(until, duration<double>(steady_clock::now() - started_).count()));
    } else {
        clock_.advanceTo(until);
    }
    return {};
}

cairo_surface_t* HeadlessBackend::frameSurface() {
    if (!surface_) {
        surface_ = makeImageSurface(kPointWidth * scale_, kPointHeight * scale_);
    }
    return surface_.get();
}

} // namespace platform
