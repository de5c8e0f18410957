#pragma once

#include "platform/backend/Backend.h"
#include "platform/backend/SdlWindow.h"
#include "platform/gfx/CairoPtr.h"

#include <chrono>
#include <memory>
#include <optional>

namespace platform {

/// A window on the desktop or the whole display, through SDL. The clock keeps to real time; input
/// is looked at as often as frames can be shown, and the title shows its source's text four times
/// a second.
class SdlBackend final : public Backend {
public:
    /// Settles what the process environment tells the video driver; call before any thread starts.
    static void prepareEnvironment() { SdlWindow::prepareEnvironment(); }

    /// Starts SDL's video, so the window opens quickly later, and settles the scale: `scale`, else
    /// 2 for full screen, else the largest that fits the display. Throws std::runtime_error with
    /// SDL's message when there is no display to show a window on.
    SdlBackend(std::optional<int> scale, bool fullscreen);

    const Clock& clock() const override { return clock_; }
    int scale() const override { return scale_; }
    bool realTime() const override { return true; }
    bool endsWithInput() const override { return false; }

    void open() override;
    void startClock() override { started_ = std::chrono::steady_clock::now(); }
    std::vector<InputEvent> wait(double until, int descriptor) override;

    cairo_surface_t* frameSurface() override;
    void present() override;
    void setTitleSource(std::function<std::string(double)> source) override {
        titleSource_ = std::move(source);
    }

private:
    double realSeconds() const;
    void refreshTitle();

    SdlVideoGuard video_; // first, so that it outlives the window
    int scale_;
    bool fullscreen_;
    std::unique_ptr<SdlWindow> window_;
    VirtualClock clock_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    double lastInputCheck_ = -kForever; // real seconds
    // Frames go straight into the window's own pixels where it has them; else into this, copied
    // when presented.
    CairoSurfacePtr ownFrame_;
    cairo_surface_t* frame_ = nullptr; // the surface last handed out
    std::function<std::string(double)> titleSource_;
    double lastTitle_ = -kForever;
    std::string shownTitle_;
};

} // namespace platform
