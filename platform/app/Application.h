#pragma once

#include "platform/services/Clock.h"
#include "platform/services/Preferences.h"
#include "platform/ui/Animation.h"

#include <memory>

namespace platform {

class ApplicationDelegate;
class Window;

/// The application object: the one instance of the running program's services that the
/// application reaches by name — its clock, its preference store and the animation blocks. It is
/// made by the main loop (or by a test) and is the shared application for as long as it lives.
class Application {
public:
    /// Becomes the shared application. `clock` must outlive it.
    Application(const Clock& clock, int scale, Preferences preferences);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    /// The application being run. There must be one.
    static Application& shared();

    const Clock& clock() const { return clock_; }
    Preferences& preferences() { return preferences_; }
    Animator& animator() { return animator_; }
    int scale() const { return scale_; }

    /// The window the interface file made, once it is loaded.
    const std::shared_ptr<Window>& window() const { return window_; }
    void setWindow(std::shared_ptr<Window> window) { window_ = std::move(window); }
    ApplicationDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

private:
    const Clock& clock_;
    int scale_;
    Preferences preferences_;
    Animator animator_;
    std::shared_ptr<Window> window_;
    std::shared_ptr<ApplicationDelegate> delegate_;
};

} // namespace platform
