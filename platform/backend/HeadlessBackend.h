#pragma once

#include "platform/backend/Backend.h"
#include "platform/gfx/CairoPtr.h"

#include <chrono>

namespace platform {

/// No window: frames go to an offscreen surface and time is virtual, either kept in step with
/// real time (paced) or moved on at once to whatever is due next (fast). Tests, scripts and
/// machines without a display run the program this way. No user means no input: waiting for
/// nothing at all ends the run.
class HeadlessBackend final : public Backend {
public:
    /// Throws std::invalid_argument for a scale other than 1, 2 or 3.
    HeadlessBackend(int scale, bool fast);

    const Clock& clock() const override { return clock_; }
    int scale() const override { return scale_; }
    bool realTime() const override { return !fast_; }
    bool endsWithInput() const override { return true; }

    void open() override {}
    void startClock() override { started_ = std::chrono::steady_clock::now(); }
    std::vector<InputEvent> wait(double until, int descriptor) override;

    cairo_surface_t* frameSurface() override;
    void present() override {}
    void setTitleSource(std::function<std::string(double)>) override {}

private:
    VirtualClock clock_;
    int scale_;
    bool fast_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    CairoSurfacePtr surface_; // made at the first frame
};

} // namespace platform
