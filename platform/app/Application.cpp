#include "platform/app/Application.h"

#include "platform/app/ApplicationDelegate.h"
#include "platform/ui/Window.h"

#include <cassert>

namespace platform {

namespace {

// The one running application; set and cleared by its constructor and destructor only.
Application* sharedApplication = nullptr;

} // namespace

Application::Application(const Clock& clock, int scale, Preferences preferences)
    : clock_(clock), scale_(scale), preferences_(std::move(preferences)), animator_(clock, scale) {
    assert(sharedApplication == nullptr && "one application at a time");
    sharedApplication = this;
}

Application::~Application() {
    // The delegate and the views go before the services they may use while being torn down.
    delegate_.reset();
    window_.reset();
    sharedApplication = nullptr;
}

Application& Application::shared() {
    assert(sharedApplication != nullptr);
    return *sharedApplication;
}

} // namespace platform
